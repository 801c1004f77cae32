// SPDX-License-Identifier: MIT
// Serial port discovery: the system's ports and the virtual ones, the probe,
// the name completion, then the HID chargers.
#include "device/port_discovery.h"

#include <algorithm>

#include "device/hid_discovery.h"
#include "device/serial_port.h"
#include "device/virtual/virtual_devices.h"

namespace velmorin {
namespace {

void AppendVirtualSerialPorts(std::vector<DiscoveredDevice>& list) {
    for (const VirtualSerialDevice& device : ReadVirtualDevices().serial) {
        const std::string portName = "COM" + std::to_string(device.portNumber);
        DiscoveredDevice record;
        record.portName = portName;
        record.devicePath = "\\\\?\\virtual#" + portName + "#" +
                            DevicePathField(device.serialNumber) + "#" + device.node;
        record.friendlyName = device.friendlyName;
        if (record.friendlyName.empty()) {
            const std::string& name =
                !device.busDescription.empty() ? device.busDescription : device.description;
            record.friendlyName =
                (name.empty() ? "Virtual Serial Port" : name) + " (" + portName + ")";
        }
        record.description = device.description;
        record.busDescription = device.busDescription;
        record.physicalPath = device.physicalPath;
        record.isUsbDevice = IsChargerBusText(device.busDescription) ? 1 : 0;
        list.push_back(std::move(record));
    }
}

// "USB Serial Port (COM3)" describes itself as "USB Serial Port"; "Port (A)
// (COM3)" and "(COM3)" stay whole.
std::string DescriptionFromFriendlyName(const std::string& friendlyName) {
    const std::size_t open = friendlyName.find(" (");
    const std::size_t close = friendlyName.find(')');
    if (open != std::string::npos && open > 0 && close == friendlyName.size() - 1) {
        return friendlyName.substr(0, open);
    }
    return friendlyName;
}

}  // namespace

std::string DeviceNodeOfPath(const std::string& devicePath) {
    const std::size_t hash = devicePath.rfind('#');
    return hash == std::string::npos ? devicePath : devicePath.substr(hash + 1);
}

std::string DevicePathField(std::string text) {
    std::replace(text.begin(), text.end(), '#', '_');
    return text;
}

bool IsChargerBusText(const std::string& busText) {
    return busText.rfind("Varno", 0) == 0 || busText.rfind("USB Device", 0) == 0;
}

void EnumeratePorts(std::vector<DiscoveredDevice>& list, bool probe) {
    list.clear();
    AppendSystemSerialPorts(list);
    AppendVirtualSerialPorts(list);

    if (probe) {
        // A charger this user may not open stays listed, marked, so that the
        // operator learns why it cannot be upgraded instead of missing it.
        std::erase_if(list, [](DiscoveredDevice& record) {
            const PortProbe found = ProbeSerialPort(DeviceNodeOfPath(record.devicePath));
            record.noPermission = found == PortProbe::NoPermission && record.isUsbDevice == 1;
            return found != PortProbe::Free && !record.noPermission;
        });
    }
    for (DiscoveredDevice& record : list) {
        if (record.friendlyName.empty()) {
            record.friendlyName = record.portName;
        }
        if (record.description.empty()) {
            record.description = DescriptionFromFriendlyName(record.friendlyName);
        }
    }
    EnumerateHidChargers(list);
}

}  // namespace velmorin
