// SPDX-License-Identifier: MIT
// The device table: one entry per line of the device list, in the list's
// order, rebuilt whole from a fresh discovery. The upgrades take the selected
// device's name, model and serial number from it.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "device/ser_info.h"

namespace velmorin {

inline constexpr int kMaxDeviceEntries = 32;
inline constexpr std::string_view kTextDeviceNotFound = "Device not found!";
// The model text of a plain serial port listed through "Include COMx Port".
inline constexpr std::string_view kPlainPortModel = "COMx";

struct DeviceEntry {
    std::string modelText;
    std::string serialText;
    std::string deviceName;
    bool noPermission = false;  // listed, but this user may not open it
};

extern std::array<DeviceEntry, kMaxDeviceEntries> g_deviceTable;
// The number of valid entries at the front of g_deviceTable.
extern int g_deviceCount;

// The field after the second '#' of a device path, up to the third '#' or
// the end; empty with fewer than two '#'.
std::string SerialFieldOfDevicePath(std::string_view devicePath);

// The text strictly between the first '(' and the first ')' after it; empty
// without both.
std::string BracketedName(std::string_view friendlyName);

// True for the entry of a plain port: model "COMx" and no serial number.
bool IsPlainPortEntry(const DeviceEntry& entry);

// Rewrites g_deviceTable and g_deviceCount from discovery records: every
// charger, and with `includeComPorts` every other serial port too, at most
// 32 entries. Returns the list-box line of each entry: "Type: <model>,
// S/N:<serial>" for a charger, the friendly name for a plain port (texts in
// the devices' single-byte code page).
std::vector<std::string> FillDeviceTable(const std::vector<SSerInfo>& records,
                                         bool includeComPorts);

struct DeviceTableRebuild {
    std::vector<std::string> lines;
    std::string discoveryError;  // set when discovery failed; the table is then empty
};

// Discovery (with `probe`, ports that cannot be opened now or that another
// program holds are left out) and FillDeviceTable. A discovery error leaves
// an empty table and its text in the result.
DeviceTableRebuild RebuildDeviceTable(bool includeComPorts, bool probe);

}  // namespace velmorin
