// SPDX-License-Identifier: MIT
// `velmorin-cli doctor`: the pre-flight checks an operator (or a support
// call) runs before an upgrade, each with its fix.
#pragma once

#include <string>

namespace velmorin::cli {

// Checks every charger and serial port of the device list, or only `device`
// (a name as `list` shows it, or a node path) when it is not empty; then the
// virtual device directory when VELMORIN_VIRTUAL_DEVICES is set. Prints one
// block per device (with `json`, an array of objects). A plain port's
// findings (a port the list does not take for a charger) are shown but
// decide nothing unless `device` names it or `includeComPorts` is set. Exit
// status 0 when nothing blocks an upgrade (warnings allowed), 1 when
// something does (or no device is found, or the output cannot be written),
// 2 when `device` names no device.
int RunDoctorCommand(const std::string& device, bool includeComPorts, bool json);

}  // namespace velmorin::cli
