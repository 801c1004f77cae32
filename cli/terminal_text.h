// SPDX-License-Identifier: MIT
// Text from update files and chargers, made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace velmorin::cli {

// Keeps tabs and line breaks (a CR LF pair becomes one line break); every
// other control character, which could move the cursor or change the
// terminal's state, becomes U+FFFD.
std::string TerminalSafe(std::string_view utf8);

}  // namespace velmorin::cli
