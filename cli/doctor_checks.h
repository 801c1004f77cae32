// SPDX-License-Identifier: MIT
// The pre-flight checks on one device that are each platform's own: whether
// this user may open it, which other program holds it, and on Linux whether
// ModemManager would probe it and whether the project's udev rule applies.
// `velmorin-cli doctor` runs them and adds the shared ones.
#pragma once

#include <string>
#include <vector>

namespace velmorin::cli {

enum class CheckStatus {
    Ok,       // nothing to do
    Warning,  // worth fixing, but an upgrade can go ahead
    Problem,  // an upgrade would fail until it is fixed
};

struct DoctorCheck {
    std::string check;  // what was checked, a short name ("access", "in use")
    CheckStatus status = CheckStatus::Ok;
    std::string finding;           // what was found, one sentence
    std::vector<std::string> fix;  // what to do about it, one line each; empty when ok
};

// One device of the device list, as the checks see it.
struct DoctorTarget {
    std::string deviceName;  // COMn, HIDn
    std::string node;        // serial node, hidraw node or virtual HID socket
    bool hid = false;
    bool isVirtual = false;  // described in VELMORIN_VIRTUAL_DEVICES
    bool plainPort = false;  // a serial port the list does not take for a charger
};

// The platform's checks on `target`, in the order they are shown. A Problem
// among them means the shared checks that open the port are not tried.
std::vector<DoctorCheck> CheckDeviceAccess(const DoctorTarget& target);

}  // namespace velmorin::cli
