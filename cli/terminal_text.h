// SPDX-License-Identifier: MIT
// Text from update files, chargers and the catalogue, made safe to print on
// a terminal.
#pragma once

#include <string>
#include <string_view>

namespace velmorin::cli {

// Keeps tabs and line breaks (a CR LF pair becomes one line break); every
// other control character, which could move the cursor or change the
// terminal's state, becomes U+FFFD.
std::string TerminalSafe(std::string_view utf8);

// For a field of a line or a column of a table: as TerminalSafe, but a line
// break shows as \n (a CR LF pair too), a lone CR as \r, a tab as \t and a
// backslash as \\, so the text can neither start a line nor shift a column
// and the escapes stay unambiguous.
std::string TerminalSafeField(std::string_view utf8);

}  // namespace velmorin::cli
