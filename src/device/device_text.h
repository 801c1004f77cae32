// SPDX-License-Identifier: MIT
// Texts that devices report (USB product and serial-number strings) in the
// single-byte form the device records keep: each character becomes the byte
// of its low 8 bits, at most 128 of them.
#pragma once

#include <string>
#include <string_view>

namespace velmorin {

inline constexpr std::size_t kMaxDeviceTextLength = 128;

std::string NarrowDeviceText(std::wstring_view text);

// The same for UTF-8 text (sysfs attributes, virtual device files); bytes
// that are not valid UTF-8 count as one character each.
std::string NarrowDeviceText(std::string_view utf8);

}  // namespace velmorin
