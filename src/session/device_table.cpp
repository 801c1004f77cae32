// SPDX-License-Identifier: MIT
// The device table and its rebuild from discovery records.
#include "session/device_table.h"

#include "device/device_name.h"
#include "device/port_discovery.h"

namespace velmorin {

std::string SerialFieldOfDevicePath(std::string_view devicePath) {
    const std::size_t first = devicePath.find('#');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t second = devicePath.find('#', first + 1);
    if (second == std::string_view::npos) {
        return {};
    }
    const std::size_t third = devicePath.find('#', second + 1);
    return std::string(devicePath.substr(
        second + 1, third == std::string_view::npos ? std::string_view::npos : third - second - 1));
}

std::string BracketedName(std::string_view friendlyName) {
    const std::size_t open = friendlyName.find('(');
    if (open == std::string_view::npos) {
        return {};
    }
    const std::size_t close = friendlyName.find(')', open + 1);
    if (close == std::string_view::npos) {
        return {};
    }
    return std::string(friendlyName.substr(open + 1, close - open - 1));
}

std::vector<std::string> DeviceTable::Fill(const std::vector<DiscoveredDevice>& records,
                                           bool includeComPorts) {
    std::vector<std::string> lines;
    m_count = 0;
    for (const DiscoveredDevice& record : records) {
        if (m_count == kMaxDeviceEntries) {
            break;  // the table's room; further devices are not listed
        }
        DeviceEntry entry;
        // A port's own name where discovery knows it: a product text such as
        // "Kestrion (2A)" in the friendly name must not name the device.
        entry.deviceName =
            !record.portName.empty() ? record.portName : BracketedName(record.friendlyName);
        entry.physicalPath = record.physicalPath;
        if (record.isUsbDevice == 1) {
            entry.modelText = record.busDescription;
            entry.serialText = SerialFieldOfDevicePath(record.devicePath);
            entry.noPermission = record.noPermission;
            lines.push_back("Type: " + entry.modelText + ", S/N:" + entry.serialText);
        } else if (includeComPorts) {
            entry.modelText = kPlainPortModel;
            lines.push_back(record.friendlyName);
        } else {
            continue;
        }
        m_slots[static_cast<std::size_t>(m_count++)] = std::move(entry);
    }
    return lines;
}

DeviceTableRebuild DeviceTable::Rebuild(bool includeComPorts, bool probe) {
    return Rebuild(includeComPorts, probe, EnumeratePorts);
}

DeviceTableRebuild DeviceTable::Rebuild(bool includeComPorts, bool probe,
                                        const DiscoverPorts& discover) {
    DeviceTableRebuild rebuild;
    std::vector<DiscoveredDevice> records;
    try {
        discover(records, probe);
    } catch (const DiscoveryError& error) {
        rebuild.discoveryError = error.what();
        records.clear();
    }
    rebuild.lines = Fill(records, includeComPorts);
    return rebuild;
}

std::vector<DeviceEntry> DeviceTable::Entries() const {
    return {m_slots.begin(), m_slots.begin() + m_count};
}

DeviceEntry DeviceTable::At(int index) const {
    if (index < 0 || index >= kMaxDeviceEntries) {
        return {};
    }
    return m_slots[static_cast<std::size_t>(index)];
}

int DeviceTable::IndexOf(std::string_view deviceName) const {
    for (int i = 0; i < m_count; ++i) {
        if (SameDeviceName(m_slots[static_cast<std::size_t>(i)].deviceName, deviceName)) {
            return i;
        }
    }
    return -1;
}

int DeviceTable::AddNamedPort(std::string_view deviceName) {
    const std::optional<DeviceName> name = ParseDeviceName(deviceName);
    if (!name || name->kind != DeviceKind::Serial || name->number == 0) {
        return -1;
    }
    const std::string portName = "COM" + std::to_string(name->number);
    if (const int listed = IndexOf(portName); listed >= 0) {
        return listed;
    }
    if (m_count >= kMaxDeviceEntries) {
        return -1;
    }
    m_slots[static_cast<std::size_t>(m_count)] =
        DeviceEntry{std::string(kPlainPortModel), "", portName, false, ""};
    return m_count++;
}

}  // namespace velmorin
