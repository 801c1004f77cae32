// SPDX-License-Identifier: MIT
// Sets any baud rate on a tty through termios2 (BOTHER). Kept apart because
// the kernel's termios2 header clashes with the C library's termios.
#pragma once

#include <cstdint>

namespace velmorin::linux_serial {

// False, with errno set, when the tty refuses the rate.
bool SetBaudRate(int fd, std::uint32_t baudRate);

// The tty's output rate (on a pseudo-terminal's master: the rate that the
// program on the terminal side set); 0 when it cannot be read.
std::uint32_t GetBaudRate(int fd);

}  // namespace velmorin::linux_serial
