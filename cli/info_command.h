// SPDX-License-Identifier: MIT
// `velmorin-cli info FILE`: the header check of an update file.
#pragma once

#include <string>

namespace velmorin::cli {

// Prints the file information, with the kinds of charger the file can go
// to, or the reason the file is rejected, and returns the exit status: 0
// accepted, 1 rejected or the output could not be written.
int RunInfoCommand(const std::string& path, bool json);

}  // namespace velmorin::cli
