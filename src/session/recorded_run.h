// SPDX-License-Identifier: MIT
// The one way an upgrade is run and recorded, for every front end (the
// windows, update, update --all, the station): the file pinned (read,
// checked and hashed once, or taken from the session that pinned it), the
// run's started line written as the procedure reaches the charger, its
// progress followed for the ending request, and its outcome line written
// when the transfer ends, before the final message box is shown.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "protocol/upgrade_host.h"
#include "protocol/upgrade_report.h"
#include "session/run_journal.h"
#include "session/upgrade_record.h"

namespace velmorin {

struct RunPlan {
    DeviceEntry device;        // the charger; empty: the host's selection as the run begins
    std::string slot;          // the position's name, if the station names one
    std::string operatorName;  // empty: the user's name
    // The bytes to send; nullptr: the file at the host's path, read as the
    // run begins.
    std::shared_ptr<const PinnedFile> file;
    // A run that finds its charger held by another run (and so never
    // reaches it) leaves no record: the station waits for such a charger
    // rather than upgrading it.
    bool quietWhenBusy = false;
};

// How a run went, as it is on record.
struct RunRecord {
    UpgradeReport report;
    DeviceEntry device;  // the charger as the run began
    // The final message: the message box's text, else what ended the run
    // (the file's rejection, why the file or the device did not open).
    std::string message;
    std::string runId;
    // Why the history could not take the run's lines; empty when it did or
    // when no history is kept.
    std::string ledgerError;
    std::shared_ptr<const PinnedFile> file;  // what the run sent
};

using UpgradeProcedure = std::function<UpgradeReport(UpgradeHost&)>;

// Runs `procedure` (the serial or HID upgrade) with `host` as `plan` says,
// recording it in `journal`. The host hears everything as it would from the
// procedure alone.
RunRecord RunRecordedUpgrade(UpgradeHost& host, const UpgradeProcedure& procedure, RunPlan plan,
                             RunJournal& journal);

// The final message of `report`: its message box's text, else `rejection`
// (the load's own words on a rejected file), else why the device or the
// file did not open, else that the file at `path` is empty.
std::string FinalMessage(const UpgradeReport& report, const std::string& rejection,
                         const std::string& path);

}  // namespace velmorin
