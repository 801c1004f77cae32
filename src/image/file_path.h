// SPDX-License-Identifier: MIT
// File names between the tool's texts and the file system. A text names a
// file the way the windows, the CLI and the messages carry it: the system's
// own bytes on Linux, UTF-8 on Windows (whose names are UTF-16). Every file
// name that comes in as a text becomes a path here, and every path that goes
// out in a message or to a window becomes a text here, never through the
// C library's locale.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmorin {

// The file `text` names. On Windows, bytes that are not UTF-8 become U+FFFD
// (such a name cannot be typed or chosen anyway); nothing fails.
std::filesystem::path PathFromText(std::string_view text);

// `path` as a text, the reverse of PathFromText. On Windows, UTF-16 that is
// not valid (a lone surrogate) becomes U+FFFD; it never throws.
std::string TextOfPath(const std::filesystem::path& path);

}  // namespace velmorin
