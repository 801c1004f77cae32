// SPDX-License-Identifier: MIT
// Sets any baud rate on a tty through termios2 (BOTHER). Kept apart because
// the kernel's termios2 header clashes with the C library's termios.
#pragma once

#include <cstdint>

namespace velmorin::linux_serial {

// False, with errno set, when the tty refuses the rate.
bool SetBaudRate(int fd, std::uint32_t baudRate);

}  // namespace velmorin::linux_serial
