// SPDX-License-Identifier: MIT
// The device table and its rebuild from discovery records.
#include "app/device_table.h"

#include "device/port_discovery.h"

namespace velmorin {

std::array<DeviceEntry, kMaxDeviceEntries> g_deviceTable;
int g_deviceCount = 0;

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

bool IsPlainPortEntry(const DeviceEntry& entry) {
    return entry.modelText == kPlainPortModel && entry.serialText.empty();
}

std::vector<std::string> FillDeviceTable(const std::vector<SSerInfo>& records,
                                         bool includeComPorts) {
    std::vector<std::string> lines;
    g_deviceCount = 0;
    for (const SSerInfo& record : records) {
        if (g_deviceCount == kMaxDeviceEntries) {
            break;  // the table's room; further devices are not listed
        }
        DeviceEntry& entry = g_deviceTable[static_cast<std::size_t>(g_deviceCount)];
        // A port's own name where discovery knows it: a product text such as
        // "Kestrion (2A)" in the friendly name must not name the device.
        const std::string deviceName =
            !record.portName.empty() ? record.portName : BracketedName(record.friendlyName);
        if (record.isUsbDevice == 1) {
            entry.modelText = record.busDescription;
            entry.serialText = SerialFieldOfDevicePath(record.devicePath);
            entry.deviceName = deviceName;
            entry.noPermission = record.noPermission;
            lines.push_back("Type: " + entry.modelText + ", S/N:" + entry.serialText);
        } else if (includeComPorts) {
            entry.modelText = kPlainPortModel;
            entry.serialText.clear();
            entry.deviceName = deviceName;
            entry.noPermission = false;
            lines.push_back(record.friendlyName);
        } else {
            continue;
        }
        ++g_deviceCount;
    }
    return lines;
}

DeviceTableRebuild RebuildDeviceTable(bool includeComPorts, bool probe) {
    DeviceTableRebuild rebuild;
    std::vector<SSerInfo> records;
    try {
        EnumeratePorts(records, probe);
    } catch (const DiscoveryError& error) {
        rebuild.discoveryError = error.what();
        records.clear();
    }
    rebuild.lines = FillDeviceTable(records, includeComPorts);
    return rebuild;
}

}  // namespace velmorin
