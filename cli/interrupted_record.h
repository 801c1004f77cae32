// SPDX-License-Identifier: MIT
// The history's lines for upgrades that Ctrl-C ends at once. An ending
// request ends the program where it stands (on Linux inside a signal
// handler, where nothing but system calls may run), so each run's line is
// composed beforehand, as "interrupted", and kept up to date as the run
// goes on; the request's handler appends every line held. One record per
// program: the handler knows of no other.
#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "device/device_entry.h"
#include "session/ledger.h"
#include "session/upgrade_record.h"

namespace velmorin::cli {

// Holds `entry` (its outcome set to interrupted here) as the line of run
// `run` (0 to 31) for the history at `path`, in place of the one held
// before. Not safe against a concurrent call for the same run.
void HoldInterruptedLine(int run, const std::filesystem::path& path, LedgerEntry entry);

// The run ended by itself and wrote its own line: nothing is held for it.
void DropInterruptedLine(int run);

// Appends every line held, each in one write, flushed. Safe in the ending
// request's handler.
void WriteInterruptedLines();

// The text that an interrupted run's line carries as its message.
inline constexpr const char* kInterruptedRunMessage =
    "Interrupted: the device was closed before the run ended.";

// Holds a line for each run under way, by a key of its caller's (a
// charger's), in one of the 32 places. Its caller serialises the calls.
class InterruptedRuns {
public:
    // Lines go to the history at `ledgerPath` (none when empty).
    InterruptedRuns(std::filesystem::path ledgerPath, UpgradedFile file, std::string operatorName);

    // A run on `device` began.
    void Started(const std::string& key, const DeviceEntry& device, const std::string& slot);
    // The run of `key` ended and wrote its own line.
    void Ended(const std::string& key);

private:
    std::filesystem::path m_ledgerPath;
    UpgradedFile m_file;
    std::string m_operatorName;
    std::array<std::string, 32> m_keys;  // empty: free
};

}  // namespace velmorin::cli
