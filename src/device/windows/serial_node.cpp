// SPDX-License-Identifier: MIT
// COM numbers on Windows are the system's own: COMn is the DOS device of
// that name, opened as \\.\COMn (the form that reaches COM10 and above too).
#include "device/serial_node.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "device/virtual/virtual_devices.h"

namespace velmorin {
namespace {

constexpr std::uint32_t kHighestPort = 256;

std::string NodeFor(std::uint32_t port) {
    return "\\\\.\\COM" + std::to_string(port);
}

}  // namespace

std::optional<std::uint32_t> ComNumberForTty(std::string_view ttyName) {
    // Device names are matched without regard to case; "COM05" is not
    // COM5 to the system, so leading zeros are no number.
    if (ttyName.size() < 4 || ttyName.size() > 6 ||
        !std::equal(ttyName.begin(), ttyName.begin() + 3, "COM", [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        })) {
        return std::nullopt;
    }
    const std::string_view digits = ttyName.substr(3);
    if (digits.front() == '0' || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return std::nullopt;
    }
    const auto port = static_cast<std::uint32_t>(std::stoul(std::string(digits)));
    return port <= kHighestPort ? std::optional<std::uint32_t>(port) : std::nullopt;
}

std::optional<std::string> SystemNodeForComNumber(std::uint32_t port) {
    if (port == 0 || port > kHighestPort) {
        return std::nullopt;
    }
    // The DOS device COMn exists exactly when some driver (a native port, a
    // USB-serial adapter, a virtual COM port) has made it. A target that
    // does not fit the buffer still shows that it exists.
    const std::wstring name = L"COM" + std::to_wstring(port);
    std::array<wchar_t, 512> target{};
    if (::QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0 ||
        ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        return NodeFor(port);
    }
    return std::nullopt;
}

std::optional<std::string> SerialNodeForComNumber(std::uint32_t port) {
    if (port == 0 || port > kHighestPort) {
        return std::nullopt;
    }
    if (auto system = SystemNodeForComNumber(port)) {
        return system;
    }
    for (const VirtualSerialDevice& device : ReadVirtualDevices().serial) {
        if (device.portNumber == port) {
            return device.node;
        }
    }
    // A port the system does not list may still open (Wine's COM ports made
    // by a link in its dosdevices folder are not all DOS devices); opening
    // it by name is what tells the operator why it does not.
    return NodeFor(port);
}

}  // namespace velmorin
