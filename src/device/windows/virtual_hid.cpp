// SPDX-License-Identifier: MIT
// Virtual HID interfaces on Windows: none. They are a Linux test facility, a
// simulator's SOCK_SEQPACKET socket carrying one report per message, and
// Windows has no such sockets, so a virtual HID device never opens here.
#include <cerrno>

#include "device/hid_interface.h"

namespace velmorin {

std::unique_ptr<HidInterface> OpenVirtualHidInterface(const std::string& /*socketPath*/) {
    errno = ENOTSUP;
    return nullptr;
}

}  // namespace velmorin
