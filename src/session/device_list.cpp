// SPDX-License-Identifier: MIT
// The device list's rebuild rules.
#include "session/device_list.h"

#include "image/code_page.h"

namespace velmorin {

DeviceListRefresh RefreshDeviceTable(DeviceTable& table, const DiscoverPorts& discover,
                                     bool includeComChecked, bool listLive, bool fileAccepted) {
    DeviceListRefresh refresh;
    const DeviceTableRebuild rebuild =
        table.Rebuild(includeComChecked, includeComChecked, discover);
    refresh.discoveryError = rebuild.discoveryError;
    refresh.rewriteList = listLive;
    refresh.selectFirst = listLive;
    if (listLive) {
        for (const std::string& line : rebuild.lines) {
            refresh.lines.push_back(CodePageToUtf8(line));
        }
    }
    if (table.Count() == 0) {
        if (listLive) {
            refresh.lines.emplace_back(kTextDeviceNotFound);
        }
        refresh.updateButton = UpdateButtonChange::Disable;  // whatever the list's state
    } else if (fileAccepted && listLive) {
        refresh.updateButton = UpdateButtonChange::Enable;
    }
    return refresh;
}

}  // namespace velmorin
