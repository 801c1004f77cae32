// SPDX-License-Identifier: MIT
// Reading the virtual device directory.
#include "device/virtual/virtual_devices.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "device/device_name.h"
#include "device/device_text.h"

namespace velmorin {
namespace {

using nlohmann::json;

std::string Text(const json& description, const char* key) {
    const auto it = description.find(key);
    return it != description.end() && it->is_string() ? NarrowDeviceText(it->get<std::string>())
                                                      : std::string();
}

std::optional<std::uint16_t> Id(const json& description, const char* key) {
    const auto it = description.find(key);
    if (it == description.end() || !it->is_number_unsigned() || it->get<std::uint64_t>() > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(it->get<std::uint64_t>());
}

void AddDescribedDevice(const json& description, const std::filesystem::path& directory,
                        VirtualDevices& devices) {
    if (!description.is_object()) {
        return;
    }
    const std::string kind = Text(description, "kind");
    if (kind == "serial") {
        const auto name = ParseDeviceName(Text(description, "port"));
        VirtualSerialDevice device;
        device.node = Text(description, "node");
        if (!name || name->kind != DeviceKind::Serial || name->number == 0 || device.node.empty()) {
            return;
        }
        device.portNumber = name->number;
        device.friendlyName = Text(description, "friendly_name");
        device.description = Text(description, "description");
        device.busDescription = Text(description, "bus_description");
        device.serialNumber = Text(description, "serial_number");
        devices.serial.push_back(std::move(device));
    } else if (kind == "hid") {
        const auto vendorId = Id(description, "vendor_id");
        const auto productId = Id(description, "product_id");
        const std::string socket = Text(description, "socket");
        if (!vendorId || !productId || socket.empty()) {
            return;
        }
        VirtualHidDevice device;
        device.socketPath = (directory / socket).string();
        device.vendorId = *vendorId;
        device.productId = *productId;
        device.product = Text(description, "product");
        device.serialNumber = Text(description, "serial_number");
        devices.hid.push_back(std::move(device));
    }
}

}  // namespace

void AddVirtualDevice(std::string_view description, const std::filesystem::path& directory,
                      VirtualDevices& devices) {
    const json parsed = json::parse(description, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_discarded()) {
        AddDescribedDevice(parsed, directory, devices);
    }
}

std::optional<std::filesystem::path> VirtualDeviceDirectory() {
    const char* directory = std::getenv(kVirtualDevicesVariable);
    if (directory == nullptr || *directory == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(directory);
}

VirtualDevices ReadVirtualDevices() {
    const auto directory = VirtualDeviceDirectory();
    return directory ? ReadVirtualDevices(*directory) : VirtualDevices{};
}

VirtualDevices ReadVirtualDevices(const std::filesystem::path& directory) {
    VirtualDevices devices;
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() == ".json" && entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        AddVirtualDevice(text, directory, devices);
    }
    return devices;
}

}  // namespace velmorin
