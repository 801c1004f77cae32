// SPDX-License-Identifier: MIT
// Dispatch of the Update command.
#include "session/upgrade_dispatch.h"

#include "protocol/hid_upgrade.h"
#include "protocol/serial_upgrade.h"

namespace velmorin {

bool IsHidDeviceName(std::string_view deviceName) {
    return deviceName.rfind("HID", 0) == 0;
}

UpgradeReport RunUpgradeForSelection(UpgradeHost& host, NonceSource& nonces) {
    return IsHidDeviceName(host.SelectedEntry().deviceName) ? UpgradeOverHid(host, nonces)
                                                            : UpgradeOverSerial(host);
}

}  // namespace velmorin
