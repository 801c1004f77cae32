// SPDX-License-Identifier: MIT
// The journal of runs: started, outcome and interrupted lines.
#include "session/run_journal.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <utility>

namespace velmorin {

std::string NewRunId() {
    std::random_device source;
    std::string id;
    for (int word = 0; word < 4; ++word) {
        const auto bits = static_cast<std::uint32_t>(source());
        std::array<char, 9> hex{};
        std::snprintf(hex.data(), hex.size(), "%08x", static_cast<unsigned>(bits));
        id += hex.data();
    }
    return id;
}

RunJournal::RunJournal(std::filesystem::path ledgerPath) : m_ledgerPath(std::move(ledgerPath)) {}

std::string RunJournal::Open(LedgerEntry entry) {
    entry.runId = NewRunId();
    entry.outcome = LedgerOutcome::Started;
    const std::lock_guard lock(m_mutex);
    std::string runId = entry.runId;
    if (!m_closed) {
        m_open[runId] = OpenRun{std::move(entry), {}, false};
    }
    return runId;
}

std::string RunJournal::Begin(const std::string& runId) {
    const std::lock_guard lock(m_mutex);
    const auto run = m_open.find(runId);
    if (m_closed || run == m_open.end() || run->second.begun) {
        return {};
    }
    run->second.begun = true;
    ++m_begun;
    // Stamped as it reaches the charger.
    run->second.entry.time = LedgerTime(std::chrono::system_clock::now());
    return m_ledgerPath.empty() ? std::string() : AppendToLedger(m_ledgerPath, run->second.entry);
}

void RunJournal::Drop(const std::string& runId) {
    const std::lock_guard lock(m_mutex);
    m_open.erase(runId);
}

void RunJournal::Progress(const std::string& runId, const RunProgress& progress) {
    const std::lock_guard lock(m_mutex);
    if (const auto run = m_open.find(runId); run != m_open.end()) {
        run->second.progress = progress;
    }
}

std::string RunJournal::Finish(const std::string& runId, LedgerEntry entry) {
    const std::lock_guard lock(m_mutex);
    const auto run = m_open.find(runId);
    if (m_closed || run == m_open.end()) {
        return {};
    }
    m_open.erase(run);
    if (entry.outcome == LedgerOutcome::Completed) {
        ++m_completed;
    }
    entry.runId = runId;
    return m_ledgerPath.empty() ? std::string() : AppendToLedger(m_ledgerPath, entry);
}

ClosedRuns RunJournal::CloseAll(std::string_view message) {
    const std::lock_guard lock(m_mutex);
    ClosedRuns closed;
    closed.begun = m_begun;
    closed.completed = m_completed;
    if (m_closed) {
        return closed;
    }
    m_closed = true;
    for (auto& [runId, run] : m_open) {
        LedgerEntry entry = std::move(run.entry);
        entry.time = LedgerTime(std::chrono::system_clock::now());
        entry.outcome = LedgerOutcome::Interrupted;
        entry.message = message;
        entry.attempts = run.progress.attempts;
        entry.frames = run.progress.frames;
        entry.elapsedMs = run.progress.elapsedMs;
        ++closed.runs;
        if (run.progress.transferBegun) {
            ++closed.transfersBegun;
        }
        if (!m_ledgerPath.empty()) {
            AppendToLedger(m_ledgerPath, entry);
        }
    }
    m_open.clear();
    return closed;
}

int RunJournal::OpenRuns() const {
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(m_open.size());
}

}  // namespace velmorin
