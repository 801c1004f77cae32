// SPDX-License-Identifier: MIT
// `velmorin-cli update FILE --device NAME`: the upgrade the Update button
// runs, from a terminal; and what the upgrade of several chargers at once
// shares with it (Ctrl-C, ports named by hand, the reasons given on a
// failure, the history).
#pragma once

#include <string>
#include <vector>

#include "device/wire_trace.h"
#include "protocol/upgrade_report.h"
#include "session/ledger.h"
#include "session/run_journal.h"
#include "session/upgrade_record.h"

namespace velmorin::cli {

// Exit status: 0 only after "Upgrade completion!"; 1 when the upgrade did
// not complete; 2 when there is no such device. The run's line goes into
// the history under `operatorName` (the user's name when empty); a history
// that cannot be written is reported on standard error and changes no exit
// status. With a `tracePath` the run's wire trace is written there (as JSON
// lines with `traceJson`); a trace that cannot be written is reported on
// standard error and changes no exit status either.
int RunUpdateCommand(const std::string& path, const std::string& device, bool json,
                     const std::string& operatorName, const std::string& tracePath = {},
                     bool traceJson = false);

// Writes `trace` to `tracePath` (JSON lines with `traceJson`); says on
// standard error when it cannot.
void SaveTrace(const WireTrace& trace, const std::string& tracePath, bool traceJson);

// From now on Ctrl-C (and its kin) ends the program at once: every run of
// `journal` still open is recorded as interrupted (a run writing its
// outcome at that moment finishes that first), the ports give up exclusive
// mode, and standard error says what became of the runs (a charger whose
// transfer had begun waits in its bootloader for another run). `several`:
// the words for several chargers. `journal` must outlive the program's end.
void EndUpgradesAtOnceOnInterrupt(RunJournal& journal, bool several);

// True for a serial port name (COMn) that discovery does not list but that
// the system opens by its name (a port some drivers, and Wine's COM links,
// keep out of the system's device lists): it is upgraded as a plain port.
bool NamedPortOpens(const std::string& deviceName);

// What to tell the operator beyond the run's own messages when `report` did
// not complete: why the file or the device was refused, that the charger was
// lost. `hid` for a HID run, `file` the bytes it sent. Empty when there is
// nothing to add.
std::vector<std::string> ExplainOutcome(const UpgradeReport& report, bool hid,
                                        const PinnedFile& file);

// Says on standard error that the history could not take a run's line:
// "velmorin-cli: " and `error` as AppendToLedger returned it; an empty
// `error` when no folder for the history is known.
void ReportHistoryFailure(const std::string& error);

}  // namespace velmorin::cli
