// SPDX-License-Identifier: MIT
// `velmorin-cli update FILE --all`, or with --device given more than once:
// several chargers upgraded at once, each on a run of its own.
#pragma once

#include <string>
#include <vector>

namespace velmorin::cli {

struct BatchUpdateOptions {
    std::string path;                  // the update file
    std::vector<std::string> devices;  // --device, as given (COMn, HIDn, a serial node)
    bool all = false;                  // --all: every charger the device list shows
    bool json = false;                 // --json: a JSON array of the runs on standard output
    std::string operatorName;          // --operator: the name the history records
    std::string tracePath;             // --trace: where the wire trace goes (none when empty)
    std::string traceFormat = "text";  // --trace-format: text or json
};

// Upgrades every charger chosen, all at once; each run's line goes into the
// history. Exit status: 0 when every charger completed; 1 when one did not;
// 2 when a named device is not connected or --all finds no charger (nothing
// is started then).
int RunBatchUpdateCommand(const BatchUpdateOptions& options);

}  // namespace velmorin::cli
