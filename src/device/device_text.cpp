// SPDX-License-Identifier: MIT
// Narrowing of device texts.
#include "device/device_text.h"

namespace velmorin {

std::string NarrowDeviceText(std::wstring_view text) {
    std::string narrow;
    for (const wchar_t c : text) {
        if (c == 0 || narrow.size() == kMaxDeviceTextLength) {
            break;
        }
        narrow.push_back(static_cast<char>(static_cast<unsigned>(c) & 0xFF));
    }
    return narrow;
}

std::string NarrowDeviceText(std::string_view utf8) {
    std::wstring wide;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        bool valid = length != 0 && i + length <= utf8.size();
        unsigned codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (!valid) {
            wide.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        wide.push_back(static_cast<wchar_t>(codePoint));
        i += length;
    }
    return NarrowDeviceText(std::wstring_view(wide));
}

}  // namespace velmorin
