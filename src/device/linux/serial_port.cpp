// SPDX-License-Identifier: MIT
// Serial ports on Linux: termios at any baud rate, exclusive, with read
// time-outs. Tests run it over pseudo-terminals with the simulator on the
// other side.
#include "device/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "device/linux/serial_baud_rate.h"

namespace velmorin {

struct SerialPort::Native {
    explicit Native(int descriptor) : fd(descriptor) {}
    int fd;
    // Exclusive mode is the terminal's, not this descriptor's: it is cleared
    // at the end only when this port set it.
    bool exclusiveSet = false;
};

SerialPort::SerialPort(std::unique_ptr<Native> native) : m_native(std::move(native)) {}
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kWriteLimit{5000};

int OpenNode(const std::string& node) {
    return ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// Another program holds the port: exclusive mode set on it, or a lock.
bool HeldElsewhere(int fd) {
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return true;
    }
    return ::flock(fd, LOCK_EX | LOCK_NB) != 0;
}

int RemainingMs(Clock::time_point deadline) {
    // Rounded up, so that a wait never ends before its time-out.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string Failure(const std::string& node, const char* what, int error) {
    std::string text = "cannot open " + node + ": " + what + std::strerror(error);
    errno = error;
    return text;
}

// The open ports, for ReleaseSerialPortsForExit: descriptor + 1, 0 for a
// free slot. The one table of the process, because a signal handler must
// reach it; its slots are atomic, so runs on several threads share it safely.
std::array<std::atomic<int>, 16> openPorts{};

void Register(int fd) {
    for (auto& slot : openPorts) {
        int expected = 0;
        if (slot.compare_exchange_strong(expected, fd + 1)) {
            return;
        }
    }
}

void Unregister(int fd) {
    for (auto& slot : openPorts) {
        int expected = fd + 1;
        if (slot.compare_exchange_strong(expected, 0)) {
            return;
        }
    }
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& node, std::uint32_t baudRate,
                                             SerialOpenFailure& failure) {
    const auto fail = [&](const char* what, int error) {
        failure.text = Failure(node, what, error);
        failure.error = error;
        return nullptr;
    };
    const int fd = OpenNode(node);
    if (fd < 0) {
        return fail("", errno);
    }
    std::unique_ptr<SerialPort> port(new SerialPort(std::make_unique<Native>(fd)));
    if (HeldElsewhere(fd)) {
        return fail("", EBUSY);
    }
    // Keeps root, whom exclusive mode does not stop, out through the lock.
    port->m_native->exclusiveSet = ::ioctl(fd, TIOCEXCL) == 0;

    struct termios settings {};
    if (::tcgetattr(fd, &settings) != 0) {
        return fail("not a serial port: ", errno);
    }
    const tcflag_t hardwareFlowControl = settings.c_cflag & CRTSCTS;
    ::cfmakeraw(&settings);  // also ends software flow control, which would eat bytes
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD | hardwareFlowControl;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return fail("cannot set 8N1: ", errno);
    }
    const std::string rateText = "cannot set " + std::to_string(baudRate) + " baud: ";
    if (!linux_serial::SetBaudRate(fd, baudRate)) {
        return fail(rateText.c_str(), errno);
    }
    // A UART that cannot make the rate keeps its old one without an error
    // (a 16550 stops at 115200), and the bootloader would never hear us.
    const std::uint32_t rateKept = linux_serial::GetBaudRate(fd);
    if (!BaudRateTaken(baudRate, rateKept)) {
        failure.text = "cannot open " + node + ": " + rateText + "the port stays at " +
                       std::to_string(rateKept) + " baud";
        failure.error = EINVAL;
        failure.rateKept = rateKept;
        return nullptr;
    }
    // USB-serial adapters otherwise hold a short answer back for up to 16 ms.
    struct serial_struct serial {};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    Register(fd);
    return port;
}

void ReleaseSerialPortsForExit() {
    for (auto& slot : openPorts) {
        const int fd = slot.load() - 1;
        if (fd >= 0) {
            ::ioctl(fd, TIOCNXCL);
        }
    }
}

SerialPort::~SerialPort() {
    Unregister(m_native->fd);
    // Exclusive mode belongs to the tty, not to this descriptor: it would
    // outlive the close while another holder (the simulator) keeps the
    // terminal open. Another program's exclusive mode is left alone.
    if (m_native->exclusiveSet) {
        ::ioctl(m_native->fd, TIOCNXCL);
    }
    ::close(m_native->fd);
}

bool SerialPort::Write(const std::uint8_t* data, std::size_t count) {
    const auto deadline = Clock::now() + kWriteLimit;
    std::size_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(m_native->fd, data + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        struct pollfd wait {
            m_native->fd, POLLOUT, 0
        };
        const int remaining = RemainingMs(deadline);
        if (remaining == 0 || ::poll(&wait, 1, remaining) <= 0 ||
            (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return false;
        }
    }
    return true;
}

ReadOutcome SerialPort::Read(std::uint8_t* buffer, std::size_t count, std::uint32_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t received = 0;
    bool hungUp = false;
    while (received < count) {
        const ssize_t n = ::read(m_native->fd, buffer + received, count - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return ReadOutcome::DeviceLost;  // EIO: the device went away or failed
        }
        // Raw mode without a minimum returns 0 bytes when nothing waits; after
        // a hang-up (an unplugged adapter) it does so for ever, while poll
        // keeps saying the port is readable.
        if (hungUp) {
            return ReadOutcome::DeviceLost;
        }
        struct pollfd wait {
            m_native->fd, POLLIN, 0
        };
        const int remaining = RemainingMs(deadline);
        if (remaining == 0) {
            return ReadOutcome::TimedOut;
        }
        const int ready = ::poll(&wait, 1, remaining);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return ReadOutcome::DeviceLost;
        }
        if (ready == 0) {
            return ReadOutcome::TimedOut;
        }
        if ((wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            if ((wait.revents & POLLIN) == 0) {
                return ReadOutcome::DeviceLost;
            }
            hungUp = true;  // take what was received before the hang-up, then stop
        }
    }
    return ReadOutcome::Received;
}

void SerialPort::Purge() {
    ::tcflush(m_native->fd, TCIOFLUSH);
}

PortProbe ProbeSerialPort(const std::string& node) {
    const int fd = OpenNode(node);
    if (fd < 0) {
        return errno == EACCES || errno == EPERM ? PortProbe::NoPermission
               : errno == EBUSY                  ? PortProbe::Held
                                                 : PortProbe::Unavailable;
    }
    const bool held = HeldElsewhere(fd);
    ::close(fd);  // also releases the lock the check took
    return held ? PortProbe::Held : PortProbe::Free;
}

}  // namespace velmorin
