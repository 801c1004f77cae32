// SPDX-License-Identifier: MIT
// The two framings the chargers' bootloaders understand, defined once for
// the channel and the simulator: the acknowledged frame (data, XOR byte, a
// one-byte answer) and the colon command line (three command bytes in
// hexadecimal text, a checksum, CR LF).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace velmorin {

// Answers to a frame.
inline constexpr std::uint8_t kFrameAccepted = '&';
inline constexpr std::uint8_t kFrameSendAgain = '5';
// A frame goes out at most this many times more after the first send.
inline constexpr int kFrameMaxResends = 3;

using CommandBytes = std::array<std::uint8_t, 3>;

// The XOR of all bytes, from 0.
std::uint8_t FrameChecksum(std::span<const std::uint8_t> data);

// ':' b0 b1 b2 b0 b1 b2 c CR LF in hexadecimal text, c = -2(b0+b1+b2) mod 256
// (the two's complement of the sum of the six bytes): sent in one piece.
inline constexpr std::size_t kCommandLineLength = 17;
std::array<std::uint8_t, kCommandLineLength> BuildCommandLine(const CommandBytes& command);

// ':' b0 b1 b2 c CR LF, c = -(b0+b1+b2) mod 256: sent one character at a time.
inline constexpr std::size_t kPacedCommandLineLength = 11;
std::array<std::uint8_t, kPacedCommandLineLength> BuildPacedCommandLine(
    const CommandBytes& command);

}  // namespace velmorin
