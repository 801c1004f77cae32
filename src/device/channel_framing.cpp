// SPDX-License-Identifier: MIT
// Frame checksums and command lines.
#include "device/channel_framing.h"

namespace velmorin {
namespace {

constexpr std::uint8_t HexDigit(unsigned nibble) {
    return static_cast<std::uint8_t>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
}

template <std::size_t n>
void PutHex(std::array<std::uint8_t, n>& line, std::size_t at, std::uint8_t byte) {
    line[at] = HexDigit(byte >> 4);
    line[at + 1] = HexDigit(byte & 0xFu);
}

unsigned Sum(const CommandBytes& command) {
    return unsigned{command[0]} + command[1] + command[2];
}

}  // namespace

std::uint8_t FrameChecksum(std::span<const std::uint8_t> data) {
    std::uint8_t checksum = 0;
    for (const std::uint8_t byte : data) {
        checksum ^= byte;
    }
    return checksum;
}

std::array<std::uint8_t, kCommandLineLength> BuildCommandLine(const CommandBytes& command) {
    std::array<std::uint8_t, kCommandLineLength> line{};
    line[0] = ':';
    for (std::size_t i = 0; i < 3; ++i) {
        PutHex(line, 1 + 2 * i, command[i]);
        PutHex(line, 7 + 2 * i, command[i]);
    }
    PutHex(line, 13, static_cast<std::uint8_t>(0u - 2u * Sum(command)));
    line[15] = '\r';
    line[16] = '\n';
    return line;
}

std::array<std::uint8_t, kPacedCommandLineLength> BuildPacedCommandLine(
    const CommandBytes& command) {
    std::array<std::uint8_t, kPacedCommandLineLength> line{};
    line[0] = ':';
    for (std::size_t i = 0; i < 3; ++i) {
        PutHex(line, 1 + 2 * i, command[i]);
    }
    PutHex(line, 7, static_cast<std::uint8_t>(0u - Sum(command)));
    line[9] = '\r';
    line[10] = '\n';
    return line;
}

}  // namespace velmorin
