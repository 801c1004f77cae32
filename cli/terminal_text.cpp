// SPDX-License-Identifier: MIT
// Control characters out of texts bound for a terminal.
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

enum class Breaks { Keep, Escape };

std::string MakeSafe(std::string_view utf8, Breaks breaks) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool crlf = c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n';
        if (crlf) {
            continue;  // the LF that follows stands for the pair
        }
        if (breaks == Breaks::Escape) {
            if (c == '\n') {
                out += "\\n";
                continue;
            }
            if (c == '\r') {
                out += "\\r";
                continue;
            }
            if (c == '\t') {
                out += "\\t";
                continue;
            }
            if (c == '\\') {
                out += "\\\\";
                continue;
            }
        }
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
            out += kReplacement;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace

std::string TerminalSafe(std::string_view utf8) {
    return MakeSafe(utf8, Breaks::Keep);
}

std::string TerminalSafeField(std::string_view utf8) {
    return MakeSafe(utf8, Breaks::Escape);
}

}  // namespace velmorin::cli
