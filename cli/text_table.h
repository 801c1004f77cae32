// SPDX-License-Identifier: MIT
// Tables of text for a terminal: columns lined up by the characters their
// cells show, two spaces apart. Cells are UTF-8 and already made safe to
// print (TerminalSafeField), so each character takes one column.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin::cli {

// The characters of UTF-8 `text`: its bytes less the continuation bytes.
inline std::size_t TextColumns(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// `text` padded with spaces to `columns` characters (never cut).
inline std::string PadText(std::string_view text, std::size_t columns) {
    std::string padded(text);
    const std::size_t shown = TextColumns(text);
    if (shown < columns) {
        padded.append(columns - shown, ' ');
    }
    return padded;
}

// `text` cut to its first `columns` characters.
inline std::string ClipText(std::string_view text, std::size_t columns) {
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (shown == columns) {
                return std::string(text.substr(0, i));
            }
            ++shown;
        }
    }
    return std::string(text);
}

// The rows as lines, each ending in a line break; the last column is not
// padded, so no line ends in spaces.
inline std::string TextTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], TextColumns(row[i]));
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += i + 1 < row.size() ? PadText(row[i], widths[i]) + "  " : row[i];
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        table += line + '\n';
    }
    return table;
}

}  // namespace velmorin::cli
