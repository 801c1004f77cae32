// SPDX-License-Identifier: MIT
// Private temporary directories on Linux: mkdtemp, mode 700.
#include "online/private_directory.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>

namespace velmorin {

std::filesystem::path MakePrivateDirectory(std::string_view namePrefix, std::string& error) {
    std::error_code ignored;
    std::filesystem::path base = std::filesystem::temp_directory_path(ignored);
    if (base.empty()) {
        base = "/tmp";
    }
    std::string pattern = (base / (std::string(namePrefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error =
            "cannot create a temporary directory in " + base.string() + ": " + std::strerror(errno);
        return {};
    }
    return pattern;
}

}  // namespace velmorin
