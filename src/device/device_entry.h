// SPDX-License-Identifier: MIT
// One listed device as the upgrades see it: the model and serial number shown
// for it and the name it is opened by (COMn, HIDn).
#pragma once

#include <string>
#include <string_view>

namespace velmorin {

// The model text of a plain serial port listed through "Include COMx Port".
inline constexpr std::string_view kPlainPortModel = "COMx";

struct DeviceEntry {
    std::string modelText;
    std::string serialText;
    std::string deviceName;
    bool noPermission = false;  // listed, but this user may not open it
    // Where it is plugged in (udev's ID_PATH); empty when unknown.
    std::string physicalPath;

    // The entry of a plain port: model "COMx" and no serial number.
    bool IsPlainPort() const { return modelText == kPlainPortModel && serialText.empty(); }
    // The same charger: model, serial number and device name alike.
    bool SameDevice(const DeviceEntry& other) const {
        return modelText == other.modelText && serialText == other.serialText &&
               deviceName == other.deviceName;
    }
    // The same charger, perhaps found again under another name (a HID
    // charger that restarted while a neighbour was away): model and serial
    // number alike when both have a serial number; without one, nothing
    // but the device name tells two chargers of one model apart.
    bool SameCharger(const DeviceEntry& other) const {
        if (serialText.empty() || other.serialText.empty()) {
            return SameDevice(other);
        }
        return modelText == other.modelText && serialText == other.serialText;
    }
};

}  // namespace velmorin
