// SPDX-License-Identifier: MIT
// A charger given by its serial port's path on Windows: \\.\COM5 (the
// system's name for COM5), or a virtual serial device's node.
#include "device_argument.h"

#include <cctype>

#include "device/serial_node.h"
#include "device/virtual/virtual_devices.h"

namespace velmorin::cli {

std::string DeviceNameFor(const std::string& device) {
    for (const char* prefix : {"\\\\.\\", "//./"}) {
        if (device.rfind(prefix, 0) == 0) {
            std::string name = device.substr(4);
            for (char& c : name) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            if (const auto port = ComNumberForTty(name)) {
                return "COM" + std::to_string(*port);
            }
        }
    }
    if (device.find_first_of("\\/") == std::string::npos) {
        return device;  // a name as `list` shows it
    }
    for (const VirtualSerialDevice& serial : ReadVirtualDevices().serial) {
        if (serial.node == device) {
            return "COM" + std::to_string(serial.portNumber);
        }
    }
    return device;
}

}  // namespace velmorin::cli
