// SPDX-License-Identifier: MIT
// The DES variant with which Kestrion update files are sealed. It uses the
// standard DES tables but reads every byte least significant bit first,
// writes each S-box result least significant bit first and does not swap the
// halves after the last round, so no standard DES library can stand in for it.
// This form is table-driven; tests check it against a bit-array form that
// follows the definition element by element.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace velmorin {

enum class DesDirection { Encrypt, Decrypt };

// The 16 round subkeys of one key. Each 48-bit subkey is held as two words
// that line its eight 6-bit groups up with the packed half block, ready to be
// XORed in: words[2r] carries the groups S1, S3, S5, S7 of round r + 1,
// words[2r + 1] the groups S2, S4, S6, S8.
struct DesSchedule {
    std::array<std::uint32_t, 32> words{};
};

// Builds the 16 subkeys of the 8 key bytes. Bit 7 of every key byte is not
// used (it is the parity bit of this bit order).
void DesKeySchedule(std::span<const std::uint8_t, 8> key, DesSchedule& schedule);

// Enciphers or deciphers one 8-byte block. `in` and `out` may be the same
// bytes.
void DesCipherBlock(const DesSchedule& schedule, std::span<const std::uint8_t, 8> in,
                    std::span<std::uint8_t, 8> out, DesDirection direction);

}  // namespace velmorin
