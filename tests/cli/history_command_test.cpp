// SPDX-License-Identifier: MIT
// `velmorin-cli history` over a history file written here: a torn last line
// is named and skipped, the table, JSON and CSV forms, the --serial and
// --since choices, and what an empty history and a bad date give.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "session/ledger.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::RunProgram;

LedgerEntry Entry(const std::string& time, const std::string& device, const std::string& serial,
                  LedgerOutcome outcome, const std::string& message) {
    LedgerEntry entry;
    entry.time = time;
    entry.station = "bench-2";
    entry.operatorName = "ana";
    entry.device = device;
    entry.model = "Varno Kestrion X";
    entry.serialNumber = serial;
    entry.file = "kx-2.10.bin";
    entry.fileSha256 = std::string(64, 'a');
    entry.fileVersion = "V2.10";
    entry.outcome = outcome;
    entry.message = message;
    entry.attempts = 1;
    entry.elapsedMs = 1250;
    return entry;
}

class HistoryCommandTest : public ::testing::Test {
protected:
    std::filesystem::path Ledger() const {
        return m_directory.Path() / "velmorin" / "history.jsonl";
    }

    // Three readable lines and a last one torn by a power cut.
    void WriteHistory() {
        std::string text;
        for (const LedgerEntry& entry : m_entries) {
            text += LedgerLine(entry) + '\n';
        }
        text += R"({"time":"2026-03-04T09:00:00Z","station":"bench-2","dev)";
        std::filesystem::create_directories(Ledger().parent_path());
        testing::WriteBytes(Ledger(), std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    static testing::ProgramOutcome History(std::vector<std::string> options) {
        options.insert(options.begin(), {VELMORIN_CLI, "history"});
        return RunProgram(options);
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_state{"XDG_STATE_HOME", m_directory.Path().string()};
    const std::vector<LedgerEntry> m_entries = {
        Entry("2026-03-01T08:00:00Z", "COM201", "SA01", LedgerOutcome::Completed,
              "Upgrade completion!"),
        Entry("2026-03-02T10:00:00Z", "HID0", "SA02", LedgerOutcome::Failed,
              "Error, \"code\" 5\nnext"),
        Entry("2026-03-03T12:30:00Z", "COM201", "SA01", LedgerOutcome::Mismatch,
              "The update file is in inconformity with the device."),
    };
};

TEST_F(HistoryCommandTest, ShowsEveryReadableLineInEachForm) {
    WriteHistory();
    const auto table = History({});
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.err.find("history.jsonl line 4 cannot be read; skipped"), std::string::npos)
        << table.err;
    EXPECT_EQ(table.out.rfind("TIME ", 0), 0u) << table.out;
    // A message's line break shows as an escape: one row per upgrade.
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 4) << table.out;
    EXPECT_NE(table.out.find("2026-03-02T10:00:00Z  HID0"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("failed     Error, \"code\" 5\\nnext"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("kx-2.10.bin  V2.10    mismatch"), std::string::npos) << table.out;

    const auto json = History({"--json"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.err.find("line 4 cannot be read"), std::string::npos);
    const auto entries = nlohmann::json::parse(json.out);
    ASSERT_EQ(entries.size(), 3u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i], nlohmann::json::parse(LedgerLine(m_entries[i])));
    }

    const auto csv = History({"--csv"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(
        csv.out.rfind("run_id,time,station,operator,device,slot,model,serial_number,file,", 0), 0u)
        << csv.out;
    EXPECT_NE(csv.out.find(",failed,\"Error, \"\"code\"\" 5\nnext\",0,1,"), std::string::npos)
        << csv.out;
    EXPECT_EQ(csv.out, LedgerCsv(m_entries));
}

TEST_F(HistoryCommandTest, ChoosesBySerialNumberAndTime) {
    WriteHistory();
    struct Row {
        std::vector<std::string> options;
        std::vector<std::string> times;  // of the entries shown, in order
    };
    const Row rows[] = {
        {{"--serial", "SA01"}, {"2026-03-01T08:00:00Z", "2026-03-03T12:30:00Z"}},
        {{"--serial", "SA0"}, {}},
        {{"--since", "2026-03-02"}, {"2026-03-02T10:00:00Z", "2026-03-03T12:30:00Z"}},
        {{"--since", "2026-03-02T10:00:00Z"}, {"2026-03-02T10:00:00Z", "2026-03-03T12:30:00Z"}},
        {{"--since", "2026-03-02T10:00:01Z"}, {"2026-03-03T12:30:00Z"}},
        {{"--since", "2026-03-02T09:59:59.5Z"}, {"2026-03-02T10:00:00Z", "2026-03-03T12:30:00Z"}},
        {{"--since", "2026-03-02T10:00:00.5"}, {"2026-03-03T12:30:00Z"}},
        {{"--since", "2026-03-02 10:00"}, {"2026-03-02T10:00:00Z", "2026-03-03T12:30:00Z"}},
        {{"--since", "2026-03-02", "--serial", "SA01"}, {"2026-03-03T12:30:00Z"}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> options = row.options;
        options.push_back("--json");
        const auto chosen = History(options);
        SCOPED_TRACE(row.options.back());
        ASSERT_EQ(chosen.exitCode, 0) << chosen.err;
        std::vector<std::string> times;
        const auto entries = nlohmann::json::parse(chosen.out);
        for (const auto& entry : entries) {
            times.push_back(entry["time"]);
        }
        EXPECT_EQ(times, row.times);
    }

    for (const char* date : {"2026-13-01", "2026-02-30", "yesterday", "2026-03-02T24:00Z",
                             "2026-03-02T10:00+02:00", "2026-3-2", "2026-03-02T10:00:00.", ""}) {
        const auto refused = History({"--since", date});
        EXPECT_EQ(refused.exitCode, 2) << date;
        EXPECT_NE(refused.err.find("--since"), std::string::npos) << refused.err;
        EXPECT_TRUE(refused.out.empty());
    }
    EXPECT_EQ(History({"--json", "--csv"}).exitCode, 2);
}

TEST_F(HistoryCommandTest, EmptyHistory) {
    const auto table = History({});
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_TRUE(table.out.empty()) << table.out;
    EXPECT_EQ(table.err, "no upgrades recorded\n");
    const auto json = History({"--json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out), nlohmann::json::array());
    const auto csv = History({"--csv"});
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(csv.out, LedgerCsv({}));
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1);

    // A history that is no file cannot be read at all.
    std::filesystem::create_directories(Ledger());
    const auto unreadable = History({});
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_NE(unreadable.err.find("history.jsonl"), std::string::npos) << unreadable.err;
}

}  // namespace
}  // namespace velmorin
