// SPDX-License-Identifier: MIT
// `velmorin-cli update FILE --device NAME`: the upgrade the Update button
// runs, from a terminal.
#pragma once

#include <string>

namespace velmorin::cli {

// Exit status: 0 only after "Upgrade completion!"; 1 when the upgrade did
// not complete; 2 when there is no such device.
int RunUpdateCommand(const std::string& path, const std::string& device, bool json);

}  // namespace velmorin::cli
