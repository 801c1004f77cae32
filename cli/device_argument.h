// SPDX-License-Identifier: MIT
// A charger named on the command line: by the name `list` shows (COMn,
// HIDn), or by the system's path of its serial port, which is turned into
// that name.
#pragma once

#include <string>

namespace velmorin::cli {

// "COMn" for the path of a serial port the system or a virtual serial
// device has (a link to one too); `device` itself otherwise.
std::string DeviceNameFor(const std::string& device);

}  // namespace velmorin::cli
