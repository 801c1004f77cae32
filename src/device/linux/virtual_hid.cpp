// SPDX-License-Identifier: MIT
// A virtual HID interface: a connected SOCK_SEQPACKET socket on which every
// message is one 65-byte report.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

    // One receive that waits with the socket's own time-out (set again only
    // when it changes): a transfer waits for thousands of answers, each the
    // sooner for taking one system call instead of a poll and a receive.
    ReadOutcome ReadReport(HidReport& report, std::uint32_t timeoutMs) override {
        if (timeoutMs == 0) {
            timeoutMs = 1;  // a time-out of zero would wait for ever
        }
        if (timeoutMs != m_timeoutMs) {
            timeval limit{};
            limit.tv_sec = static_cast<time_t>(timeoutMs / 1000);
            limit.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
            if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
                return ReadOutcome::DeviceLost;
            }
            m_timeoutMs = timeoutMs;
        }
        report.fill(0);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        ssize_t received = 0;
        for (;;) {
            received = ::recv(m_fd, report.data(), report.size(), 0);
            if (received >= 0 || errno != EINTR) {
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return ReadOutcome::TimedOut;
            }
        }
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return ReadOutcome::TimedOut;
        }
        if (received <= 0) {
            return ReadOutcome::DeviceLost;  // 0: the device closed its end
        }
        // A message of another size is no report: a failed read, though the
        // device is still there.
        return received == static_cast<ssize_t>(report.size()) ? ReadOutcome::Received
                                                               : ReadOutcome::TimedOut;
    }

private:
    int m_fd;
    std::uint32_t m_timeoutMs = 0;  // the socket's receive time-out now (0: none set)
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
