// SPDX-License-Identifier: MIT
// The core's texts are UTF-8; the window's W functions take UTF-16. These
// convert at that boundary, and read a window's text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace velmorin::win32 {

// `utf8` as UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view utf8);
// `wide` as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);

// The window's text (empty for no window).
std::wstring WindowText(HWND window);

}  // namespace velmorin::win32
