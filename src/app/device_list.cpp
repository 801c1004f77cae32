// SPDX-License-Identifier: MIT
// The device list's rebuild rules.
#include "app/device_list.h"

#include "app/device_table.h"
#include "image/code_page.h"
#include "image/file_info_display.h"

namespace velmorin {

bool g_bListBoxLive = true;

DeviceListRefresh RefreshDeviceTable(bool includeComChecked) {
    DeviceListRefresh refresh;
    const DeviceTableRebuild rebuild = RebuildDeviceTable(includeComChecked, includeComChecked);
    refresh.discoveryError = rebuild.discoveryError;
    refresh.rewriteList = g_bListBoxLive;
    refresh.selectFirst = g_bListBoxLive;
    if (g_bListBoxLive) {
        for (const std::string& line : rebuild.lines) {
            refresh.lines.push_back(CodePageToUtf8(line));
        }
    }
    if (g_deviceCount == 0) {
        if (g_bListBoxLive) {
            refresh.lines.emplace_back(kTextDeviceNotFound);
        }
        refresh.updateButton = UpdateButtonChange::Disable;  // whatever the list's state
    } else if (g_bFileAccepted && g_bListBoxLive) {
        refresh.updateButton = UpdateButtonChange::Enable;
    }
    return refresh;
}

}  // namespace velmorin
