// SPDX-License-Identifier: MIT
// A directory of its own for a fetched file, made afresh in the system's
// temporary directory with a name nobody else has, and open to this user
// only.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmorin {

// Makes "<temporary directory>/<namePrefix><random>". Returns its path, or
// an empty path with `error` saying why ("cannot create a temporary
// directory in /tmp: Permission denied").
std::filesystem::path MakePrivateDirectory(std::string_view namePrefix, std::string& error);

}  // namespace velmorin
