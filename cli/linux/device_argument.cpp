// SPDX-License-Identifier: MIT
// A charger given by its serial node on Linux: /dev/ttyUSB0, a link to it
// (/dev/serial/by-id/...), or a virtual serial device's node.
#include "device_argument.h"

#include <filesystem>

#include "device/serial_node.h"
#include "device/virtual/virtual_devices.h"

namespace velmorin::cli {

std::string DeviceNameFor(const std::string& device) {
    if (device.empty() || device[0] != '/') {
        return device;
    }
    std::error_code error;
    const std::string node = std::filesystem::weakly_canonical(device, error).string();
    if (const auto port = ComNumberForTty(std::filesystem::path(node).filename().string())) {
        return "COM" + std::to_string(*port);
    }
    for (const VirtualSerialDevice& serial : ReadVirtualDevices().serial) {
        if (serial.node == device || serial.node == node) {
            return "COM" + std::to_string(serial.portNumber);
        }
    }
    return device;
}

}  // namespace velmorin::cli
