// SPDX-License-Identifier: MIT
// The Update command's choice of procedure: the HID upgrade for a device
// name that begins with "HID" (case counts), the serial upgrade for every
// other name, an empty one included.
#pragma once

#include <string_view>

#include "protocol/protocol_clock.h"
#include "protocol/upgrade_host.h"
#include "protocol/upgrade_report.h"

namespace velmorin {

bool IsHidDeviceName(std::string_view deviceName);

// Runs the upgrade that suits the selected entry's device name (a HID
// challenge takes its nonce from `nonces`).
UpgradeReport RunUpgradeForSelection(UpgradeHost& host, NonceSource& nonces);

}  // namespace velmorin
