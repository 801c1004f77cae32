// SPDX-License-Identifier: MIT
// UTF-8 and UTF-16 texts.
#include "gui-win32/wide_text.h"

#include <climits>

#include "device/windows/wide_text.h"

namespace velmorin::win32 {

std::wstring Widen(std::string_view utf8) {
    return windows_text::Wide(utf8);
}

std::string Narrow(std::wstring_view wide) {
    return windows_text::Utf8(wide);
}

std::wstring WindowText(HWND window) {
    if (window == nullptr) {
        return {};
    }
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

}  // namespace velmorin::win32
