// SPDX-License-Identifier: MIT
// The system's serial ports from libudev: every tty with a COM number, with
// the USB product string as its bus text and the USB serial number as the
// instance field of its device path. Tests run it over umockdev's mocked
// sysfs.
#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "device/device_text.h"
#include "device/linux/udev_lock.h"
#include "device/port_discovery.h"
#include "device/serial_node.h"

namespace velmorin {
namespace {

struct UdevDeleter {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumeration) const { udev_enumerate_unref(enumeration); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

DiscoveryError Failure(const char* what, int error) {
    char text[128];
    std::snprintf(text, sizeof text, "%s failed. (err=%x)", what, static_cast<unsigned>(error));
    return DiscoveryError(text);
}

std::string Attribute(udev_device* device, const char* name) {
    const char* value = udev_device_get_sysattr_value(device, name);
    return value != nullptr ? NarrowDeviceText(std::string_view(value)) : std::string();
}

std::string Property(udev_device* device, const char* name) {
    const char* value = udev_device_get_property_value(device, name);
    return value != nullptr ? NarrowDeviceText(std::string_view(value)) : std::string();
}

// What the driver makes of the port, as the operator knows these kinds.
std::string KindDescription(const std::string& ttyName, bool onUsb) {
    if (ttyName.rfind("ttyACM", 0) == 0) {
        return "USB Serial Device";
    }
    if (ttyName.rfind("rfcomm", 0) == 0) {
        return "Bluetooth Serial Port";
    }
    return onUsb ? "USB Serial Port" : "Communications Port";
}

struct FoundPort {
    std::uint32_t comNumber;
    DiscoveredDevice record;
};

std::optional<FoundPort> DescribePort(udev_device* tty) {
    const std::string name = udev_device_get_sysname(tty);
    const auto comNumber = ComNumberForTty(name);
    if (!comNumber) {
        return std::nullopt;
    }
    // A ttyS whose UART type is unknown has no hardware behind it.
    if (name.rfind("ttyS", 0) == 0) {
        const char* type = udev_device_get_sysattr_value(tty, "type");
        if (type == nullptr || std::string(type) == "0") {
            return std::nullopt;
        }
    }
    const char* devnode = udev_device_get_devnode(tty);
    const std::string node = devnode != nullptr ? devnode : "/dev/" + name;
    const std::string comName = "COM" + std::to_string(*comNumber);

    FoundPort port{*comNumber, {}};
    DiscoveredDevice& record = port.record;
    // The device name is the port's own, whatever the product text around it
    // in the friendly name holds.
    record.portName = comName;
    record.physicalPath = Property(tty, "ID_PATH");
    // The parent is owned by the child; no unref.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    record.description = KindDescription(name, usb != nullptr);
    if (usb != nullptr) {
        const std::string product = Attribute(usb, "product");
        const std::string model = Property(tty, "ID_MODEL");
        std::string instance = Attribute(usb, "serial");
        if (instance.empty()) {
            instance = udev_device_get_sysname(usb);  // the USB port path
        }
        record.busDescription = product;
        record.friendlyName = (!product.empty() ? product
                               : !model.empty() ? model
                                                : record.description) +
                              " (" + comName + ")";
        record.devicePath = "\\\\?\\usb#vid_" + Attribute(usb, "idVendor") + "&pid_" +
                            Attribute(usb, "idProduct") + "#" + DevicePathField(instance) + "#" +
                            node;
    } else {
        record.friendlyName = record.description + " (" + comName + ")";
        record.devicePath = "\\\\?\\serial#" + name + "#0#" + node;
    }
    record.isUsbDevice = IsChargerBusText(record.busDescription) ? 1 : 0;
    return port;
}

}  // namespace

void AppendSystemSerialPorts(std::vector<DiscoveredDevice>& list) {
    const std::lock_guard hold(UdevLock());  // released after the udev objects
    UdevPtr<udev> context(udev_new());
    if (!context) {
        throw Failure("udev_new", errno);
    }
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration) {
        throw Failure("udev_enumerate_new", errno);
    }
    udev_enumerate_add_match_subsystem(enumeration.get(), "tty");
    if (const int result = udev_enumerate_scan_devices(enumeration.get()); result < 0) {
        throw Failure("udev_enumerate_scan_devices", -result);
    }

    std::vector<FoundPort> ports;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevPtr<udev_device> tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!tty) {
            continue;  // gone since the scan
        }
        if (auto port = DescribePort(tty.get())) {
            ports.push_back(std::move(*port));
        }
    }
    std::stable_sort(ports.begin(), ports.end(), [](const FoundPort& a, const FoundPort& b) {
        return a.comNumber < b.comNumber;
    });
    for (FoundPort& port : ports) {
        list.push_back(std::move(port.record));
    }
}

}  // namespace velmorin
