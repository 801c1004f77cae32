// SPDX-License-Identifier: MIT
// Virtual devices: chargers described by JSON files in the directory named
// by VELMORIN_VIRTUAL_DEVICES, listed after the system's own devices. A
// virtual serial device is a tty node (a pseudo-terminal); a virtual HID
// device is a SOCK_SEQPACKET socket carrying 65-byte reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin {

inline constexpr const char* kVirtualDevicesVariable = "VELMORIN_VIRTUAL_DEVICES";

struct VirtualSerialDevice {
    std::uint32_t portNumber = 0;  // n of COMn
    std::string node;
    std::string friendlyName;
    std::string description;
    std::string busDescription;
    std::string serialNumber;
    std::string physicalPath;  // "id_path": where it stands in for a plugged-in device
};

struct VirtualHidDevice {
    std::string socketPath;  // absolute
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string product;
    std::string serialNumber;
    std::string physicalPath;  // "id_path"
};

struct VirtualDevices {
    std::vector<VirtualSerialDevice> serial;
    std::vector<VirtualHidDevice> hid;
};

// Adds the device that one description file's text describes, if it
// describes one; sockets are looked for in `directory`. Any text is safe.
void AddVirtualDevice(std::string_view description, const std::filesystem::path& directory,
                      VirtualDevices& devices);

// The directory, when the variable is set and not empty.
std::optional<std::filesystem::path> VirtualDeviceDirectory();

// Reads every *.json file of the directory afresh, in file-name order.
// Files that cannot be read or do not describe a device are skipped, and so
// are devices that cannot be reached (a serial node that is gone, a HID
// socket nobody listens on) and serial devices that claim the COM number of
// one of the system's own ports (with a warning on standard error).
VirtualDevices ReadVirtualDevices();
VirtualDevices ReadVirtualDevices(const std::filesystem::path& directory);

}  // namespace velmorin
