// SPDX-License-Identifier: MIT
// File names on Linux are bytes, and so are the tool's texts for them: both
// ways leave the bytes as they are, whatever the locale.
#include "image/file_path.h"

namespace velmorin {

std::filesystem::path PathFromText(std::string_view text) {
    return std::filesystem::path(text);
}

std::string TextOfPath(const std::filesystem::path& path) {
    return path.native();
}

}  // namespace velmorin
