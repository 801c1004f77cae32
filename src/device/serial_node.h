// SPDX-License-Identifier: MIT
// COM port numbers and the system's serial nodes. The numbers are fixed per
// node so that they do not shift when other devices come and go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmorin {

// The COM number of a tty by its kernel name (ttyUSB0 is COM33), or nothing
// for ttys that are not serial ports.
std::optional<std::uint32_t> ComNumberForTty(std::string_view ttyName);

// The system's node for COMn ("/dev/ttyUSB0" for COM33), or nothing when no
// kind of port has that number.
std::optional<std::string> SystemNodeForComNumber(std::uint32_t port);

// The node to open for COMn: the system's node when it exists, else a
// virtual serial device with that number.
std::optional<std::string> SerialNodeForComNumber(std::uint32_t port);

}  // namespace velmorin
