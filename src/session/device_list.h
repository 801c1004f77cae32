// SPDX-License-Identifier: MIT
// The device list's rebuild, apart from the widgets: what a refresh does to
// the device table, the list box and the Update button, given the "Include
// COMx Port" check box, whether the list is live (it is not while an upgrade
// runs) and whether the chosen file is accepted.
#pragma once

#include <string>
#include <vector>

#include "session/device_table.h"

namespace velmorin {

enum class UpdateButtonChange { Leave, Enable, Disable };

struct DeviceListRefresh {
    bool rewriteList = false;        // empty the list box and fill it with `lines`
    std::vector<std::string> lines;  // list lines, UTF-8 ("Device not found!" when none)
    bool selectFirst = false;        // select line 0
    UpdateButtonChange updateButton = UpdateButtonChange::Leave;
    std::string discoveryError;  // shown to the operator; the discovery then counts as empty
};

// Rebuilds `table` from a fresh discovery through `discover` (probing the
// ports when the check box is checked) and says what the window must do.
// While the list is not live only the table is rebuilt.
DeviceListRefresh RefreshDeviceTable(DeviceTable& table, const DiscoverPorts& discover,
                                     bool includeComChecked, bool listLive, bool fileAccepted);

}  // namespace velmorin
