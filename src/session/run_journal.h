// SPDX-License-Identifier: MIT
// This program's runs on the history, as a journal: a run's started line as
// its transfer is about to begin, its outcome line when it ends, both with
// its run_id, so that a program that dies mid-run still leaves the run on
// record. When the program is asked to end, each run still open gets an
// interrupted line that says how far it got. Every front end's runs go
// through one journal, so that the ending request finds them all, and each
// run gets exactly one outcome line. Safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "session/ledger.h"

namespace velmorin {

// The message of a run that a request to end the program cut off.
inline constexpr std::string_view kInterruptedRunMessage =
    "Interrupted: the device was closed before the run ended.";

// A new run_id: 128 random bits as 32 lowercase hex digits.
std::string NewRunId();

// How far a run has got, for the line the ending request writes for it.
struct RunProgress {
    int attempts = 0;
    std::uint64_t frames = 0;  // blocks or frames the charger took
    std::uint64_t elapsedMs = 0;
    bool transferBegun = false;  // the payload was under way: the charger left its firmware
};

// What the ending request found.
struct ClosedRuns {
    int begun = 0;           // runs this journal began, in all
    int runs = 0;            // runs that were still open, now recorded as interrupted
    int transfersBegun = 0;  // of those, runs whose payload was under way
    int completed = 0;       // runs of this program recorded as completed before
};

class RunJournal {
public:
    // Lines go to the history at `ledgerPath`; none when it is empty (runs
    // are still followed, so that the ending request can tell what it
    // stopped).
    explicit RunJournal(std::filesystem::path ledgerPath);
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    const std::filesystem::path& LedgerPath() const { return m_ledgerPath; }

    // Opens a run, not yet on record: gives `entry` a fresh run_id and keeps
    // it, for the started line and for the interrupted line should the
    // program be asked to end meanwhile. Returns the run_id.
    std::string Open(LedgerEntry entry);
    // The run is about to reach the charger: writes its started line (once).
    // Empty when the history took it (or none is kept), else why not.
    std::string Begin(const std::string& runId);
    // Closes a run that never reached the charger without any record (a
    // charger another run holds was not upgraded here at all).
    void Drop(const std::string& runId);
    // Notes how far the run has got.
    void Progress(const std::string& runId, const RunProgress& progress);
    // Writes the run's outcome line (`entry`, given the run's run_id) and
    // closes the run. Nothing is written for a run the ending request closed
    // already. Empty on success, else why the history could not take it.
    std::string Finish(const std::string& runId, LedgerEntry entry);
    // The program is ending: every open run gets its interrupted line, with
    // `message` and how far it got, and no run begins or finishes after.
    // Waits for an outcome line being written at that moment.
    ClosedRuns CloseAll(std::string_view message);
    // Runs begun and not finished.
    int OpenRuns() const;

private:
    struct OpenRun {
        LedgerEntry entry;  // the started line
        RunProgress progress;
        bool begun = false;  // its started line is written
    };

    const std::filesystem::path m_ledgerPath;
    mutable std::mutex m_mutex;
    std::map<std::string, OpenRun> m_open;
    bool m_closed = false;
    int m_begun = 0;
    int m_completed = 0;
};

}  // namespace velmorin
