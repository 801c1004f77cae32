// SPDX-License-Identifier: MIT
// The device entry at the list's current selection, read afresh each time
// (a device change may rebuild the table while an upgrade pumps messages).
#pragma once

#include "app/device_table.h"
#include "protocol/upgrade_host.h"

namespace velmorin {

// The entry at the selection, or an empty entry when nothing is selected.
DeviceEntry SelectedEntry(UpgradeHost& host);

}  // namespace velmorin
