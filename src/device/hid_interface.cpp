// SPDX-License-Identifier: MIT
// The HID interface list: the system's interfaces, then the virtual ones.
#include "device/hid_interface.h"

#include <cerrno>

#include "device/virtual/virtual_devices.h"

namespace velmorin {

std::vector<HidInterfaceInfo> EnumerateHidInterfaces() {
    std::vector<HidInterfaceInfo> interfaces = EnumerateSystemHidInterfaces();
    for (const VirtualHidDevice& device : ReadVirtualDevices().hid) {
        HidInterfaceInfo info;
        info.path = device.socketPath;
        info.isVirtual = true;
        info.vendorId = device.vendorId;
        info.productId = device.productId;
        info.product = device.product;
        info.serialNumber = device.serialNumber;
        info.physicalPath = device.physicalPath;
        interfaces.push_back(std::move(info));
    }
    return interfaces;
}

std::unique_ptr<HidInterface> OpenHidInterface(std::uint32_t index, std::string& path) {
    const std::vector<HidInterfaceInfo> interfaces = EnumerateHidInterfaces();
    if (index >= interfaces.size()) {
        path.clear();
        errno = ENODEV;
        return nullptr;
    }
    const HidInterfaceInfo& info = interfaces[index];
    path = info.path;
    return info.isVirtual ? OpenVirtualHidInterface(info.path) : OpenSystemHidInterface(info.path);
}

}  // namespace velmorin
