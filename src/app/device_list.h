// SPDX-License-Identifier: MIT
// The device list's rebuild, apart from the widgets: what a refresh does to
// the device table, the list box and the Update button, given the "Include
// COMx Port" check box and the two process-wide flags.
#pragma once

#include <string>
#include <vector>

namespace velmorin {

// True except while an upgrade runs: then a refresh rebuilds only the table.
extern bool g_bListBoxLive;

enum class UpdateButtonChange { Leave, Enable, Disable };

struct DeviceListRefresh {
    bool rewriteList = false;        // empty the list box and fill it with `lines`
    std::vector<std::string> lines;  // list lines, UTF-8 ("Device not found!" when none)
    bool selectFirst = false;        // select line 0
    UpdateButtonChange updateButton = UpdateButtonChange::Leave;
    std::string discoveryError;  // shown to the operator; the discovery then counts as empty
};

// Rebuilds g_deviceTable from a fresh discovery (probing the ports when the
// check box is checked) and says what the window must do.
DeviceListRefresh RefreshDeviceTable(bool includeComChecked);

}  // namespace velmorin
