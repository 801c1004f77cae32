// SPDX-License-Identifier: MIT
// Dispatch of the Update command.
#include "app/update_command.h"

#include "protocol/hid_upgrade.h"
#include "protocol/serial_upgrade.h"
#include "protocol/upgrade_steps.h"

namespace velmorin {

bool IsHidDeviceName(std::string_view deviceName) {
    return deviceName.rfind("HID", 0) == 0;
}

UpgradeReport RunUpgradeForSelection(UpgradeHost& host) {
    return IsHidDeviceName(SelectedEntry(host).deviceName) ? UpgradeOverHid(host)
                                                           : UpgradeOverSerial(host);
}

}  // namespace velmorin
