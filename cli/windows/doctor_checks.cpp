// SPDX-License-Identifier: MIT
// The pre-flight checks on Windows: a port belongs to the one program that
// has it open, so opening it tells both whether this account may and
// whether another program holds it (the system cannot say which program).
// There is no udev and no ModemManager to look at.
#include "doctor_checks.h"

#include <cerrno>
#include <cstring>

#include "device/hid_interface.h"
#include "device/serial_port.h"
#include "port_diagnosis.h"

namespace velmorin::cli {
namespace {

// The advice the update gives for the same failure, after its first line
// (the finding says it).
std::vector<std::string> Advice(const std::string& node, int error) {
    std::vector<std::string> fix;
    const std::vector<std::string> advice = ExplainPortFailure(node, error);
    for (std::size_t i = advice.size() > 1 ? 1 : 0; i < advice.size(); ++i) {
        const std::string& line = advice[i];
        const std::size_t start = line.find_first_not_of(' ');
        fix.push_back(start == std::string::npos ? line : line.substr(start));
    }
    return fix;
}

}  // namespace

std::vector<DoctorCheck> CheckDeviceAccess(const DoctorTarget& target) {
    DoctorCheck access{"access", CheckStatus::Ok, "", {}};
    DoctorCheck holders{"in use", CheckStatus::Ok, "", {}};
    if (target.hid && target.isVirtual) {
        // Connecting would be taken for a host by the simulated charger.
        access.finding = "not checked for a virtual HID device";
        holders.finding = "not checked for a virtual HID device";
        return {access, holders};
    }
    int error = 0;
    std::string reason;
    if (target.hid) {
        if (OpenSystemHidInterface(target.node) == nullptr) {
            error = errno != 0 ? errno : ENODEV;
            reason = target.node + ": " + std::strerror(error);
        }
    } else {
        SerialOpenFailure failure;
        if (SerialPort::Open(target.node, 9600, failure) == nullptr) {
            error = failure.error;
            reason = failure.text;
        }
    }
    if (error == 0) {
        access.finding = "this account may open " + target.node;
        holders.finding = "no other program has it open";
    } else if (error == EBUSY) {
        access.finding = "not known: another program has it open";
        holders.status = CheckStatus::Problem;
        holders.finding = reason;
        holders.fix = Advice(target.node, error);
    } else {
        access.status = CheckStatus::Problem;
        access.finding = reason;
        access.fix = Advice(target.node, error);
        holders.finding = "not known: the device does not open";
    }
    return {access, holders};
}

}  // namespace velmorin::cli
