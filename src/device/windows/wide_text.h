// SPDX-License-Identifier: MIT
// Conversions between the core's UTF-8 texts and the UTF-16 texts of the
// system's W functions, for the Windows device backends.
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace velmorin::windows_text {

// `utf8` as UTF-16; bytes that are not UTF-8 become U+FFFD.
inline std::wstring Wide(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(utf8.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
    }
    return wide;
}

// `wide` as UTF-8.
inline std::string Utf8(std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(wide.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), needed, nullptr,
                              nullptr);
    }
    return utf8;
}

}  // namespace velmorin::windows_text
