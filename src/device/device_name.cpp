// SPDX-License-Identifier: MIT
// Parsing of device names.
#include "device/device_name.h"

#include <algorithm>
#include <cctype>

namespace velmorin {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Decimal text read the way the C library reads it: blanks, an optional
// sign, digits up to the first non-digit. As an unsigned 32-bit value a
// negative number is far above any port number or interface index, so every
// negative number and every number past 32 bits reads as 0xFFFFFFFF.
std::uint32_t ReadNumber(std::string_view text) {
    constexpr std::uint64_t kLargest = 0xFFFFFFFFull;
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0; ++i) {
        value = std::min(value * 10 + static_cast<std::uint64_t>(text[i] - '0'), kLargest + 1);
    }
    if ((negative && value != 0) || value > kLargest) {
        return static_cast<std::uint32_t>(kLargest);
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<DeviceName> ParseDeviceName(std::string_view name) {
    constexpr std::uint32_t kHighestPort = 256;
    if (StartsWithIgnoringCase(name, "COM")) {
        const std::uint32_t port = ReadNumber(name.substr(3));
        if (port > kHighestPort) {
            return std::nullopt;
        }
        return DeviceName{DeviceKind::Serial, port};
    }
    if (StartsWithIgnoringCase(name, "HID")) {
        return DeviceName{DeviceKind::Hid, ReadNumber(name.substr(3))};
    }
    return std::nullopt;
}

bool SameDeviceName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace velmorin
