// SPDX-License-Identifier: MIT
// Probes for the tests against the kernel's drivers, run inside the virtual
// machine: how a serial port takes a rate through the core's own open, and
// what the device watcher sees while devices come and go.
//
//   vm_probe rate NODE RATE    opens NODE at RATE as an upgrade does; prints
//                              "opened RATE reported R" or "refused: TEXT"
//                              (exit 0 when opened, 1 when refused)
//   vm_probe watch MS          prints "change" for each device change within
//                              MS ms, then "changes N"
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device/device_watcher.h"
#include "device/linux/serial_baud_rate.h"
#include "device/serial_port.h"

namespace {

int ProbeRate(const std::string& node, std::uint32_t rate) {
    velmorin::SerialOpenFailure failure;
    const auto port = velmorin::SerialPort::Open(node, rate, failure);
    if (!port) {
        std::printf("refused: %s (kept %u)\n", failure.text.c_str(), failure.rateKept);
        return 1;
    }
    // The rate the driver reports now, read through a second descriptor:
    // the port's own is private to it.
    std::uint32_t reported = 0;
    const int fd = ::open(node.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        reported = velmorin::linux_serial::GetBaudRate(fd);
        ::close(fd);
    }
    std::printf("opened %u reported %u\n", rate, reported);
    return 0;
}

int Watch(int milliseconds) {
    velmorin::DeviceWatcher watcher;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int changes = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        if (watcher.WaitForChange(static_cast<int>(left))) {
            ++changes;
            std::printf("change\n");
            std::fflush(stdout);
        }
    }
    std::printf("changes %d\n", changes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "rate" && argc == 4) {
        return ProbeRate(argv[2], static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    }
    if (command == "watch" && argc == 3) {
        return Watch(std::atoi(argv[2]));
    }
    std::fprintf(stderr, "usage: vm_probe rate NODE RATE | vm_probe watch MS\n");
    return 2;
}
