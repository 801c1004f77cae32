// SPDX-License-Identifier: MIT
// HID chargers out of the one HID interface list.
#include "device/hid_discovery.h"

#include "device/hid_interface.h"

namespace velmorin {

bool IsHidCharger(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kChargerVendorId &&
           (productId & kChargerProductIdMask) == kChargerProductIdBase;
}

void EnumerateHidChargers(std::vector<DiscoveredDevice>& list) {
    const std::vector<HidInterfaceInfo> interfaces = EnumerateHidInterfaces();
    for (std::size_t index = 0; index < interfaces.size(); ++index) {
        const HidInterfaceInfo& info = interfaces[index];
        if (!IsHidCharger(info.vendorId, info.productId)) {
            continue;
        }
        DiscoveredDevice record;
        record.devicePath = "##" + info.serialNumber;
        record.friendlyName = "Varno USB(HID" + std::to_string(index) + ")";
        record.isUsbDevice = 1;
        record.busDescription = info.product;
        record.hidIndex = static_cast<std::int32_t>(index);
        record.physicalPath = info.physicalPath;
        list.push_back(std::move(record));
    }
}

}  // namespace velmorin
