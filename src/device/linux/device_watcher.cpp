// SPDX-License-Identifier: MIT
// Device changes on Linux: a udev monitor on the tty and hidraw subsystems
// and inotify on the virtual device directory, joined in one epoll set.
#include "device/device_watcher.h"

#include <libudev.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "device/linux/udev_lock.h"
#include "device/virtual/virtual_devices.h"

namespace velmorin {

struct DeviceWatcher::Sources {
    int epoll = -1;
    int inotify = -1;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;

    ~Sources() {
        const std::lock_guard hold(UdevLock());
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        if (context != nullptr) {
            udev_unref(context);
        }
        if (inotify >= 0) {
            ::close(inotify);
        }
        if (epoll >= 0) {
            ::close(epoll);
        }
    }

    void Add(int fd) const {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
    }

    void WatchUdev() {
        const std::lock_guard hold(UdevLock());
        context = udev_new();
        if (context == nullptr) {
            return;
        }
        monitor = udev_monitor_new_from_netlink(context, "udev");
        if (monitor == nullptr) {
            return;
        }
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr);
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
        if (udev_monitor_enable_receiving(monitor) != 0) {
            udev_monitor_unref(monitor);
            monitor = nullptr;
            return;
        }
        Add(udev_monitor_get_fd(monitor));
    }

    void WatchVirtualDirectory() {
        const auto directory = VirtualDeviceDirectory();
        if (!directory) {
            return;
        }
        // Made here if missing, so that devices announced later are seen.
        std::error_code error;
        std::filesystem::create_directories(*directory, error);
        inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify < 0) {
            return;
        }
        if (::inotify_add_watch(
                inotify, directory->c_str(),
                IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
            ::close(inotify);
            inotify = -1;
            return;
        }
        Add(inotify);
    }

    // Only device description files count; sockets and temporary files come
    // and go with them.
    bool DrainInotify() const {
        bool changed = false;
        alignas(inotify_event) std::array<char, 4096> buffer{};
        for (;;) {
            const ssize_t length = ::read(inotify, buffer.data(), buffer.size());
            if (length <= 0) {
                return changed;
            }
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
                if (event->len > 0 && std::string_view(event->name).ends_with(".json")) {
                    changed = true;
                }
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    bool DrainUdev() const {
        const std::lock_guard hold(UdevLock());
        bool changed = false;
        while (udev_device* device = udev_monitor_receive_device(monitor)) {
            changed = true;
            udev_device_unref(device);
        }
        return changed;
    }
};

DeviceWatcher::DeviceWatcher() : m_sources(std::make_unique<Sources>()) {
    m_sources->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_sources->WatchUdev();
    m_sources->WatchVirtualDirectory();
}

DeviceWatcher::~DeviceWatcher() = default;

int DeviceWatcher::Fd() const {
    return m_sources->epoll;
}

bool DeviceWatcher::ConsumeChanges() {
    bool changed = false;
    if (m_sources->monitor != nullptr) {
        changed = m_sources->DrainUdev() || changed;
    }
    if (m_sources->inotify >= 0) {
        changed = m_sources->DrainInotify() || changed;
    }
    return changed;
}

bool DeviceWatcher::WaitForChange(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd wait{Fd(), POLLIN, 0};
        if (left <= 0 || ::poll(&wait, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        if (ConsumeChanges()) {
            return true;
        }
    }
}

}  // namespace velmorin
