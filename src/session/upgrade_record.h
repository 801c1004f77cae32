// SPDX-License-Identifier: MIT
// What the history keeps of one upgrade: the update file as it was when the
// upgrade began (its name, SHA-256, version and type), the charger, and the
// run's report, made into one ledger entry.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "device/device_entry.h"
#include "protocol/upgrade_report.h"
#include "session/ledger.h"

namespace velmorin {

// The version of this tool, as the history names it.
std::string_view ToolVersion();

// The update file of an upgrade, described once for every charger it goes
// into.
struct UpgradedFile {
    std::string path;     // as the operator gave it
    std::string sha256;   // empty when it cannot be read
    std::string version;  // the header's texts; empty for a file the check refuses
    std::string type;
    std::string memo;

    // Reads the file at `path` (UTF-8 on Windows) for its digest and header.
    static UpgradedFile Describe(const std::string& path);
};

LedgerOutcome LedgerOutcomeOf(UpgradeOutcome outcome);

// The history's entry for `report`, the run on `device` (in `slot`, if the
// station names one) with `file`, stamped now with this computer's name and
// `operatorName` (the user's name when empty). `message` is the final
// message; when empty, the report's.
LedgerEntry LedgerEntryFor(const UpgradeReport& report, const DeviceEntry& device,
                           std::string_view slot, const UpgradedFile& file,
                           std::string_view operatorName, std::string_view message = {});

}  // namespace velmorin
