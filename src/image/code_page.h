// SPDX-License-Identifier: MIT
// Texts in update files are in the maker's single-byte Windows code page
// (1252); the displays take UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace velmorin {

// Converts Windows-1252 text to UTF-8. The five bytes that 1252 leaves
// undefined become U+FFFD.
std::string CodePageToUtf8(std::string_view text);

}  // namespace velmorin
