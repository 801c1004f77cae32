// SPDX-License-Identifier: MIT
// Reading the virtual device directory.
#include "device/virtual/virtual_devices.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "device/device_name.h"
#include "device/device_text.h"
#include "device/serial_node.h"

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
        device.physicalPath = Text(description, "id_path");
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
        device.physicalPath = Text(description, "id_path");
        devices.hid.push_back(std::move(device));
    }
}

// The paths of the UNIX sockets that something listens on now. A simulator
// killed without a chance to clean up leaves its socket file behind with no
// listener; asking the kernel spares a trial connection, which the device
// would take for a host.
std::vector<std::string> ListeningSocketPaths() {
    // Columns: Num RefCount Protocol Flags Type St Inode Path; the flag
    // 00010000 marks a listening socket.
    constexpr unsigned long kListening = 0x10000;
    std::vector<std::string> paths;
    std::ifstream table("/proc/net/unix");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, references, protocol, flags, type, state, inode, path;
        fields >> slot >> references >> protocol >> flags >> type >> state >> inode;
        std::getline(fields >> std::ws, path);
        if (!path.empty() && (std::strtoul(flags.c_str(), nullptr, 16) & kListening) != 0) {
            paths.push_back(path);
        }
    }
    return paths;
}

// Whether a listening socket bound as `bound` is the one at `socketPath`. A
// socket bound by a relative path shows that path, relative to its binder's
// directory; its file name must then do.
bool SameSocket(const std::filesystem::path& bound, const std::filesystem::path& socketPath) {
    if (bound.filename() != socketPath.filename()) {
        return false;
    }
    std::error_code error;
    return bound.is_relative() || bound == socketPath ||
           std::filesystem::weakly_canonical(bound, error) ==
               std::filesystem::weakly_canonical(socketPath, error);
}

// Keeps what one description file adds only where it can be reached: a
// serial device whose node is gone or a HID device with no listener behind
// its socket is a simulator that ended without cleaning up; a serial device
// that claims the number of one of the system's own ports would list as a
// charger but open that port instead, and is reported.
void AddReachableDevices(VirtualDevices&& described, const std::filesystem::path& file,
                         const std::vector<std::string>& listening, VirtualDevices& devices) {
    std::error_code error;
    for (VirtualSerialDevice& device : described.serial) {
        const auto systemNode = SystemNodeForComNumber(device.portNumber);
        if (systemNode && std::filesystem::exists(*systemNode, error)) {
            std::cerr << "velmorin: " << file.string() << " describes COM" << device.portNumber
                      << ", which is this system's " << *systemNode << "; skipped\n";
            continue;
        }
        if (std::filesystem::exists(device.node, error)) {
            devices.serial.push_back(std::move(device));
        }
    }
    for (VirtualHidDevice& device : described.hid) {
        if (std::any_of(listening.begin(), listening.end(), [&](const std::string& path) {
                return SameSocket(path, device.socketPath);
            })) {
            devices.hid.push_back(std::move(device));
        }
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
    const std::vector<std::string> listening =
        files.empty() ? std::vector<std::string>() : ListeningSocketPaths();
    for (const auto& file : files) {
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        VirtualDevices described;
        AddVirtualDevice(text, directory, described);
        AddReachableDevices(std::move(described), file, listening, devices);
    }
    return devices;
}

}  // namespace velmorin
