// SPDX-License-Identifier: MIT
// The journal of runs: a run's started and outcome lines folded into one
// entry by every reader, a run with no outcome line shown as interrupted,
// and the ending request's interrupted lines, one outcome per run even when
// runs end while it closes them.
#include "session/run_journal.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <thread>

#include "session/ledger.h"
#include "support/test_files.h"

namespace velmorin {
namespace {

LedgerEntry Line(const std::string& runId, LedgerOutcome outcome, const std::string& serial,
                 int frames = 0) {
    LedgerEntry entry;
    entry.runId = runId;
    entry.time = "2026-12-10T08:00:00Z";
    entry.serialNumber = serial;
    entry.outcome = outcome;
    entry.frames = static_cast<std::uint64_t>(frames);
    entry.message = std::string(LedgerOutcomeName(outcome));
    return entry;
}

struct Folded {
    std::string serial;
    LedgerOutcome outcome;
    int frames;
    bool operator==(const Folded&) const = default;
};

std::vector<Folded> Fold(const std::filesystem::path& path, std::vector<std::string>& warnings,
                         const std::string& serial = {}) {
    std::vector<Folded> runs;
    EXPECT_TRUE(ForEachLedgerRun(
        path,
        [&runs](const LedgerEntry& entry) {
            runs.push_back({entry.serialNumber, entry.outcome, static_cast<int>(entry.frames)});
            if (entry.outcome == LedgerOutcome::Interrupted && entry.frames == 0) {
                EXPECT_EQ(entry.message, kNoOutcomeRecorded);
            }
        },
        warnings, serial));
    return runs;
}

TEST(RunJournalFold, EveryRunOnceLastLineWinsUnfinishedRunsInterrupted) {
    using O = LedgerOutcome;
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        std::string serial;  // the reader's choice, if any
        std::vector<Folded> runs;
        std::size_t warnings;
    };
    const auto line = [](const std::string& runId, O outcome, const std::string& serial,
                         int frames = 0) {
        return LedgerLine(Line(runId, outcome, serial, frames));
    };
    const Row rows[] = {
        {"started then completed",
         {line("a", O::Started, "S1"), line("a", O::Completed, "S1")},
         "",
         {{"S1", O::Completed, 0}},
         0},
        {"no outcome line: interrupted, with the reason",
         {line("a", O::Started, "S1")},
         "",
         {{"S1", O::Interrupted, 0}},
         0},
        {"the ending request's line keeps how far the run got",
         {line("a", O::Started, "S1"), line("a", O::Interrupted, "S1", 300)},
         "",
         {{"S1", O::Interrupted, 300}},
         0},
        {"interleaved runs in the order they ended, unfinished ones last",
         {line("a", O::Started, "S1"), line("b", O::Started, "S2"), line("c", O::Started, "S3"),
          line("b", O::Failed, "S2"), line("a", O::Completed, "S1")},
         "",
         {{"S2", O::Failed, 0}, {"S1", O::Completed, 0}, {"S3", O::Interrupted, 0}},
         0},
        {"older lines without run_id are runs of their own",
         {line("", O::Completed, "S1"), line("", O::Completed, "S1")},
         "",
         {{"S1", O::Completed, 0}, {"S1", O::Completed, 0}},
         0},
        {"an unreadable line is named and skipped",
         {line("a", O::Started, "S1"), "{\"run_id\":\"a\",\"outc", line("a", O::Completed, "S1")},
         "",
         {{"S1", O::Completed, 0}},
         1},
        {"by serial number",
         {line("a", O::Started, "S1"), line("b", O::Started, "S2"), line("a", O::Completed, "S1"),
          line("b", O::Completed, "S2"), line("c", O::Started, "S2")},
         "S2",
         {{"S2", O::Completed, 0}, {"S2", O::Interrupted, 0}},
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const testing::TempDirectory directory;
        const auto path = directory.Path() / "history.jsonl";
        {
            std::ofstream out(path, std::ios::binary);
            for (const std::string& text : row.lines) {
                out << text << '\n';
            }
        }
        std::vector<std::string> warnings;
        EXPECT_EQ(Fold(path, warnings, row.serial), row.runs);
        EXPECT_EQ(warnings.size(), row.warnings);
        // The readers that take it all at once fold the same way.
        if (row.serial.empty()) {
            EXPECT_EQ(ReadLedger(path).entries.size(), row.runs.size());
        }
    }
}

TEST(RunJournal, EachRunHasItsStartedLineAndExactlyOneOutcome) {
    const testing::TempDirectory directory;
    const auto path = directory.Path() / "state" / "history.jsonl";
    RunJournal journal(path);
    LedgerEntry started;
    started.serialNumber = "S1";
    const std::string first = journal.Open(started);
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    const std::string second = journal.Open(started);
    EXPECT_NE(first, second);
    const std::string notReached = journal.Open(started);
    const std::string busy = journal.Open(started);
    // Nothing is on record until a run reaches its charger.
    EXPECT_EQ(ReadLedger(path).entries.size(), 0u);
    EXPECT_EQ(journal.Begin(first), "");
    EXPECT_EQ(journal.Begin(second), "");
    EXPECT_EQ(journal.Begin(second), "");  // once
    // The started lines are there before the runs end: a program that dies
    // now leaves them on record.
    EXPECT_EQ(ReadLedger(path).entries.size(), 2u);
    journal.Drop(busy);

    journal.Progress(second, {2, 417, 1500, true});
    EXPECT_EQ(journal.Finish(first, Line("", LedgerOutcome::Completed, "S1")), "");
    const ClosedRuns closed = journal.CloseAll(kInterruptedRunMessage);
    EXPECT_EQ(closed.begun, 2);
    EXPECT_EQ(closed.runs, 2);  // one under way, one not at its charger yet
    EXPECT_EQ(closed.transfersBegun, 1);
    EXPECT_EQ(closed.completed, 1);
    // A run that ends after the request wrote its line adds nothing.
    EXPECT_EQ(journal.Finish(second, Line("", LedgerOutcome::Completed, "S1")), "");
    EXPECT_EQ(journal.CloseAll(kInterruptedRunMessage).runs, 0);

    const LedgerContents history = ReadLedger(path);
    ASSERT_EQ(history.entries.size(), 3u);
    std::map<std::string, LedgerEntry> byRun;
    for (const LedgerEntry& entry : history.entries) {
        byRun[entry.runId] = entry;
    }
    ASSERT_EQ(byRun.size(), 3u);
    EXPECT_EQ(history.entries[0].runId, first);
    EXPECT_EQ(byRun[first].outcome, LedgerOutcome::Completed);
    EXPECT_EQ(byRun[notReached].outcome, LedgerOutcome::Interrupted);
    EXPECT_EQ(byRun[notReached].frames, 0u);
    const LedgerEntry& cut = byRun[second];
    EXPECT_EQ(cut.outcome, LedgerOutcome::Interrupted);
    EXPECT_EQ(cut.message, kInterruptedRunMessage);
    EXPECT_EQ(cut.attempts, 2);
    EXPECT_EQ(cut.frames, 417u);
    EXPECT_EQ(cut.elapsedMs, 1500u);
    EXPECT_EQ(cut.serialNumber, "S1");
    EXPECT_EQ(byRun.count(busy), 0u);
}

// Runs end on their own threads while the ending request closes them: each
// run gets its started line and one outcome line, never two.
TEST(RunJournal, RunsEndingWhileTheRequestClosesThemGetOneOutcomeEach) {
    const testing::TempDirectory directory;
    const auto path = directory.Path() / "history.jsonl";
    RunJournal journal(path);
    constexpr int kRuns = 16;
    std::vector<std::string> ids;
    for (int i = 0; i < kRuns; ++i) {
        ids.push_back(journal.Open(Line("", LedgerOutcome::Started, "S" + std::to_string(i))));
        journal.Begin(ids.back());
    }
    std::vector<std::thread> runs;
    for (int i = 0; i < kRuns; ++i) {
        runs.emplace_back([&journal, &ids, i] {
            journal.Finish(ids[static_cast<std::size_t>(i)],
                           Line("", LedgerOutcome::Completed, "S" + std::to_string(i)));
        });
        if (i == kRuns / 2) {
            journal.CloseAll(kInterruptedRunMessage);
        }
    }
    for (std::thread& run : runs) {
        run.join();
    }
    std::map<std::string, int> outcomes;
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        const auto entry = ParseLedgerLine(text);
        ASSERT_TRUE(entry.has_value()) << text;
        if (entry->outcome != LedgerOutcome::Started) {
            ++outcomes[entry->runId];
        }
    }
    ASSERT_EQ(outcomes.size(), static_cast<std::size_t>(kRuns));
    for (const auto& [runId, count] : outcomes) {
        EXPECT_EQ(count, 1) << runId;
    }
}

}  // namespace
}  // namespace velmorin
