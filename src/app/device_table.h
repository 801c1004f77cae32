// SPDX-License-Identifier: MIT
// The device table: one entry per line of the device list, in the list's
// order, read by the upgrades and by the file-information display.
#pragma once

#include <array>
#include <string>

namespace velmorin {

inline constexpr int kMaxDeviceEntries = 32;

struct DeviceEntry {
    std::string modelText;
    std::string serialText;
    std::string deviceName;
};

extern std::array<DeviceEntry, kMaxDeviceEntries> g_deviceTable;
// The number of valid entries at the front of g_deviceTable.
extern int g_deviceCount;

}  // namespace velmorin
