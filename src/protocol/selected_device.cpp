// SPDX-License-Identifier: MIT
// Reading the selected entry.
#include "protocol/selected_device.h"

namespace velmorin {

DeviceEntry SelectedEntry(UpgradeHost& host) {
    const int index = host.SelectedIndex();
    if (index < 0 || index >= kMaxDeviceEntries) {
        return {};
    }
    return g_deviceTable[static_cast<std::size_t>(index)];
}

}  // namespace velmorin
