// SPDX-License-Identifier: MIT
// A virtual HID interface: a connected SOCK_SEQPACKET socket on which every
// message is one 65-byte report.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "device/hid_interface.h"

namespace velmorin {
namespace {

class VirtualHidInterface : public HidInterface {
public:
    explicit VirtualHidInterface(int fd) : m_fd(fd) {}
    ~VirtualHidInterface() override { ::close(m_fd); }
    VirtualHidInterface(const VirtualHidInterface&) = delete;
    VirtualHidInterface& operator=(const VirtualHidInterface&) = delete;

    bool WriteReport(const HidReport& report) override {
        return ::send(m_fd, report.data(), report.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(report.size());
    }

    ReadOutcome ReadReport(HidReport& report, std::uint32_t timeoutMs) override {
        struct pollfd wait {
            m_fd, POLLIN, 0
        };
        const int timeout = static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
        int ready = 0;
        do {
            ready = ::poll(&wait, 1, timeout);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            return ReadOutcome::TimedOut;
        }
        if (ready < 0 || (wait.revents & POLLIN) == 0) {
            return ReadOutcome::DeviceLost;  // the device closed its end
        }
        report.fill(0);
        const ssize_t received = ::recv(m_fd, report.data(), report.size(), 0);
        if (received <= 0) {
            return ReadOutcome::DeviceLost;  // 0: the end of the connection
        }
        // A message of another size is no report: a failed read, though the
        // device is still there.
        return received == static_cast<ssize_t>(report.size()) ? ReadOutcome::Received
                                                               : ReadOutcome::TimedOut;
    }

private:
    int m_fd;
};

}  // namespace

std::unique_ptr<HidInterface> OpenVirtualHidInterface(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        return nullptr;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<VirtualHidInterface>(fd);
}

}  // namespace velmorin
