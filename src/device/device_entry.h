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

    // The entry of a plain port: model "COMx" and no serial number.
    bool IsPlainPort() const { return modelText == kPlainPortModel && serialText.empty(); }
    // The same charger: model, serial number and device name alike.
    bool SameDevice(const DeviceEntry& other) const {
        return modelText == other.modelText && serialText == other.serialText &&
               deviceName == other.deviceName;
    }
};

}  // namespace velmorin
