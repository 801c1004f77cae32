// SPDX-License-Identifier: MIT
// Storage of the process-wide device table.
#include "app/device_table.h"

namespace velmorin {

std::array<DeviceEntry, kMaxDeviceEntries> g_deviceTable;
int g_deviceCount = 0;

}  // namespace velmorin
