// SPDX-License-Identifier: MIT
// termios2 with BOTHER: the rate goes to the driver as a number, so 128000
// works wherever the hardware can make it.
#include "device/linux/serial_baud_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace velmorin::linux_serial {

bool SetBaudRate(int fd, std::uint32_t baudRate) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = baudRate;
    settings.c_ospeed = baudRate;
    return ::ioctl(fd, TCSETS2, &settings) == 0;
}

std::uint32_t GetBaudRate(int fd) {
    struct termios2 settings {};
    return ::ioctl(fd, TCGETS2, &settings) == 0 ? settings.c_ospeed : 0;
}

}  // namespace velmorin::linux_serial
