// SPDX-License-Identifier: MIT
// The device list from a terminal: the same discovery and table as the main
// window's list.
#include "list_command.h"

#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "image/code_page.h"
#include "output.h"
#include "session/device_table.h"
#include "terminal_text.h"

namespace velmorin::cli {

int RunListCommand(bool includeComPorts, bool json) {
    DeviceTable table;
    const DeviceTableRebuild rebuild = table.Rebuild(includeComPorts, includeComPorts);
    const std::vector<DeviceEntry> entries = table.Entries();
    if (json) {
        nlohmann::json devices = nlohmann::json::array();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const DeviceEntry& entry = entries[i];
            devices.push_back({{"device", entry.deviceName},
                               {"line", CodePageToUtf8(rebuild.lines[i])},
                               {"model", CodePageToUtf8(entry.modelText)},
                               {"serial", CodePageToUtf8(entry.serialText)},
                               {"plain_port", entry.IsPlainPort()},
                               {"no_permission", entry.noPermission}});
        }
        nlohmann::json out{{"devices", devices}};
        if (!rebuild.discoveryError.empty()) {
            out["error"] = rebuild.discoveryError;
        }
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return FinishOutput(0);
    }
    if (!rebuild.discoveryError.empty()) {
        std::cerr << TerminalSafe(rebuild.discoveryError) << '\n';
    }
    // Two tab-separated columns, one line per device: line breaks and tabs
    // in the devices' texts show as escapes.
    bool noPermission = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const DeviceEntry& entry = entries[i];
        std::cout << TerminalSafeField(entry.deviceName) << '\t'
                  << TerminalSafeField(CodePageToUtf8(rebuild.lines[i]))
                  << (entry.noPermission ? "\t(no permission)" : "") << '\n';
        noPermission = noPermission || entry.noPermission;
    }
    if (noPermission) {
        std::cerr << "This user may not open the chargers marked \"(no permission)\"; "
                     "`velmorin-cli update` on one says what grants access.\n";
    }
    if (entries.empty()) {
        std::cerr << kTextDeviceNotFound << '\n';
    }
    return FinishOutput(0);
}

}  // namespace velmorin::cli
