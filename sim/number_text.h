// SPDX-License-Identifier: MIT
// Numbers given on the simulator's command line, decimal or 0x hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmorin::sim {

// The whole text as a number from 0 to `largest`, or nothing.
inline std::optional<std::uint32_t> ParseNumberText(const std::string& text,
                                                    std::uint32_t largest) {
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used, 0);
        if (used == text.size() && value <= largest) {
            return static_cast<std::uint32_t>(value);
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

}  // namespace velmorin::sim
