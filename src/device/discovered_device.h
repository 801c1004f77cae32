// SPDX-License-Identifier: MIT
// One discovered device, as serial port discovery and HID discovery report
// it and the device list reads it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmorin {

struct DiscoveredDevice {
    // How the device is reached. For a serial port: "\\?\" and '#'-separated
    // fields whose third is the USB serial number (the instance) and whose
    // last is the device node. For a HID charger: "##" and its serial number.
    std::string devicePath;
    std::string portName;      // COMn, the name the port is opened by
    std::string friendlyName;  // e.g. "Varno Kestrion X (COM33)", "Varno USB(HID3)"
    // 1 for a device that the device list treats as a charger on USB.
    std::int32_t isUsbDevice = 0;
    std::string description;     // e.g. "USB Serial Port"
    std::string busDescription;  // the USB product string
    std::int32_t hidIndex = 0;   // the n of HIDn for HID records
    // Where the device is plugged in, as udev's ID_PATH names it (the same
    // socket keeps the same path); empty when unknown.
    std::string physicalPath;
    // The probe found a charger that this user may not open.
    bool noPermission = false;
};

// Discovery fails by raising this error; what() is the text for the operator.
class DiscoveryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace velmorin
