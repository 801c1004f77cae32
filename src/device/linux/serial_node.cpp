// SPDX-License-Identifier: MIT
// COM numbers of Linux serial nodes: ttyS<k> is COM(k+1), ttyUSB<k>
// COM(k+33), ttyACM<k> COM(k+65), ttyAMA<k> COM(k+97), rfcomm<k> COM(k+129),
// k from 0 to 31.
#include "device/serial_node.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

#include "device/virtual/virtual_devices.h"

namespace velmorin {
namespace {

struct NodeFamily {
    std::string_view prefix;
    std::uint32_t firstPort;
};

constexpr std::array<NodeFamily, 5> kFamilies = {{
    {"ttyS", 1},
    {"ttyUSB", 33},
    {"ttyACM", 65},
    {"ttyAMA", 97},
    {"rfcomm", 129},
}};
constexpr std::uint32_t kNodesPerFamily = 32;

}  // namespace

std::optional<std::uint32_t> ComNumberForTty(std::string_view ttyName) {
    for (const NodeFamily& family : kFamilies) {
        if (ttyName.substr(0, family.prefix.size()) != family.prefix) {
            continue;
        }
        const std::string_view digits = ttyName.substr(family.prefix.size());
        if (digits.empty() || digits.size() > 2 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            continue;
        }
        const std::uint32_t k = static_cast<std::uint32_t>(std::stoul(std::string(digits)));
        if (k < kNodesPerFamily) {
            return family.firstPort + k;
        }
    }
    return std::nullopt;
}

std::optional<std::string> SystemNodeForComNumber(std::uint32_t port) {
    for (const NodeFamily& family : kFamilies) {
        if (port >= family.firstPort && port < family.firstPort + kNodesPerFamily) {
            return "/dev/" + std::string(family.prefix) + std::to_string(port - family.firstPort);
        }
    }
    return std::nullopt;
}

std::optional<std::string> SerialNodeForComNumber(std::uint32_t port) {
    const auto system = SystemNodeForComNumber(port);
    std::error_code error;
    if (system && std::filesystem::exists(*system, error)) {
        return system;
    }
    for (const VirtualSerialDevice& device : ReadVirtualDevices().serial) {
        if (device.portNumber == port) {
            return device.node;
        }
    }
    return std::nullopt;
}

}  // namespace velmorin
