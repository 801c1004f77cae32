// SPDX-License-Identifier: MIT
// File names on Windows are UTF-16 and the tool's texts UTF-8. The
// conversions are the system's own: std::filesystem would convert a narrow
// text through the C runtime's locale, one byte to one UTF-16 unit in the
// "C" locale, and so name another file.
#include "image/file_path.h"

#include <windows.h>

#include <climits>
#include <utility>

namespace velmorin {

std::filesystem::path PathFromText(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
    return std::filesystem::path(std::move(wide));
}

std::string TextOfPath(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    if (wide.empty() || wide.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(wide.size());
    // Without WC_ERR_INVALID_CHARS a lone surrogate becomes U+FFFD.
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), needed, nullptr, nullptr);
    return text;
}

}  // namespace velmorin
