// SPDX-License-Identifier: MIT
// The system's HID interfaces through hidapi's hidraw backend: one entry per
// hidraw node, in hidapi's order, and 65-byte reports with report ID 0 at the
// channel (hidraw takes the ID byte on output and leaves it out on input).
#include <hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "device/device_text.h"
#include "device/hid_interface.h"
#include "device/linux/udev_lock.h"

namespace velmorin {
namespace {

// hidapi keeps one error text for the whole process, which hid_init,
// hid_enumerate and hid_open_path free and replace: two upgrades discovering
// or opening at once would free it twice. Those calls hold UdevLock; the
// reads and writes of an open device keep their own state and do not.
// Called with the lock held.
bool InitHidapi() {
    static const bool initialised = hid_init() == 0;
    return initialised;
}

// Where the hidraw node's device is plugged in: udev's ID_PATH of the node,
// else of the first device above it that has one (the USB interface or the
// USB device); empty when none says.
std::string PhysicalPathOf(udev* context, const std::string& node) {
    const std::size_t slash = node.rfind('/');
    if (context == nullptr || slash == std::string::npos) {
        return {};
    }
    udev_device* device =
        udev_device_new_from_subsystem_sysname(context, "hidraw", node.substr(slash + 1).c_str());
    std::string path;
    // Parents belong to their child: only the node's own device is unref'd.
    for (udev_device* at = device; at != nullptr && path.empty(); at = udev_device_get_parent(at)) {
        if (const char* value = udev_device_get_property_value(at, "ID_PATH")) {
            path = value;
        }
    }
    if (device != nullptr) {
        udev_device_unref(device);
    }
    return path;
}

std::string Narrow(const wchar_t* text) {
    return text != nullptr ? NarrowDeviceText(std::wstring_view(text)) : std::string();
}

class HidapiInterface : public HidInterface {
public:
    explicit HidapiInterface(hid_device* device) : m_device(device) {}
    ~HidapiInterface() override { hid_close(m_device); }
    HidapiInterface(const HidapiInterface&) = delete;
    HidapiInterface& operator=(const HidapiInterface&) = delete;

    bool WriteReport(const HidReport& report) override {
        return hid_write(m_device, report.data(), report.size()) == static_cast<int>(report.size());
    }

    ReadOutcome ReadReport(HidReport& report, std::uint32_t timeoutMs) override {
        report.fill(0);
        const int timeout = static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
        const int count = hid_read_timeout(m_device, report.data() + 1, kHidReportData, timeout);
        // hidapi reports a vanished hidraw node (ENODEV, EIO) as -1.
        return count > 0    ? ReadOutcome::Received
               : count == 0 ? ReadOutcome::TimedOut
                            : ReadOutcome::DeviceLost;
    }

private:
    hid_device* m_device;
};

}  // namespace

std::vector<HidInterfaceInfo> EnumerateSystemHidInterfaces() {
    std::vector<HidInterfaceInfo> interfaces;
    const std::lock_guard hold(UdevLock());
    if (!InitHidapi()) {
        return interfaces;
    }
    udev* context = udev_new();
    hid_device_info* all = hid_enumerate(0, 0);
    for (const hid_device_info* device = all; device != nullptr; device = device->next) {
        const std::string path = device->path != nullptr ? device->path : "";
        // hidapi may list one node once per top-level collection, one after
        // the other; a node is one interface.
        if (!interfaces.empty() && interfaces.back().path == path) {
            continue;
        }
        HidInterfaceInfo info;
        info.path = path;
        info.vendorId = device->vendor_id;
        info.productId = device->product_id;
        info.product = Narrow(device->product_string);
        info.serialNumber = Narrow(device->serial_number);
        info.physicalPath = PhysicalPathOf(context, path);
        interfaces.push_back(std::move(info));
    }
    hid_free_enumeration(all);
    if (context != nullptr) {
        udev_unref(context);
    }
    return interfaces;
}

std::unique_ptr<HidInterface> OpenSystemHidInterface(const std::string& path) {
    const std::lock_guard hold(UdevLock());
    if (!InitHidapi()) {
        return nullptr;
    }
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) {
        // hidapi keeps the reason as text only; the node says it again.
        errno = ::access(path.c_str(), R_OK | W_OK) == 0 ? EIO : errno;
        return nullptr;
    }
    return std::make_unique<HidapiInterface>(device);
}

}  // namespace velmorin
