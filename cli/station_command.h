// SPDX-License-Identifier: MIT
// The production-line mode: watches for chargers and upgrades each one that
// arrives, in parallel with the others, once per serial number.
#pragma once

#include <string>

namespace velmorin::cli {

struct StationCommandOptions {
    std::string path;          // the update file
    std::string model;         // --model: only chargers whose model text holds it
    std::string slotsPath;     // --slots: the slot names file
    int count = 0;             // --count: end after this many completions (0: until Ctrl-C)
    bool json = false;         // --json: one JSON object per event on standard output
    bool again = false;        // --again: chargers done before with this file are upgraded too
    std::string operatorName;  // --operator: the name the history records
};

// Exit status: 0 after --count completions, or after Ctrl-C, when no charger
// failed without completing later; 1 when one did, or the file is rejected;
// 2 for bad options (a slots file that cannot be read).
int RunStationCommand(const StationCommandOptions& options);

}  // namespace velmorin::cli
