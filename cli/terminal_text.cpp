// SPDX-License-Identifier: MIT
// Control characters out of texts bound for a terminal.
#include "terminal_text.h"

namespace velmorin::cli {

std::string TerminalSafe(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
            continue;
        }
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
            out += "\xEF\xBF\xBD";
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace velmorin::cli
