// SPDX-License-Identifier: MIT
// Device names: COMn for a serial port, HIDn for the n-th HID interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmorin {

enum class DeviceKind { Serial, Hid };

struct DeviceName {
    DeviceKind kind = DeviceKind::Serial;
    // The port number (serial, 0 to 256) or the interface index (HID).
    std::uint32_t number = 0;
};

// Reads a device name: "COM" or "HID" in any case, then a decimal number
// (leading blanks and a sign allowed, reading stops at the first non-digit,
// no digits read as 0). Serial port numbers above 256, negative ones
// included, and every other prefix give nothing. "COMx" is port 0, which no
// port has; "HID" alone is interface 0.
std::optional<DeviceName> ParseDeviceName(std::string_view name);

// Whether two device names name the same device: equal but for the case of
// their letters ("com201" is COM201), as the parser reads them.
bool SameDeviceName(std::string_view a, std::string_view b);

}  // namespace velmorin
