// SPDX-License-Identifier: MIT
// The three fixed secrets of the Kestrion update files: the Triple DES key
// text of the whole-file form, the AES key of the header form, and the mask
// that both bootloader conversations lay over payload bytes on the wire.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velmorin {

// Source of the two DES keys (K1 = bytes 0-7, K2 = bytes 8-15 of the text
// followed by one NUL byte).
inline constexpr std::string_view ImageKeyText = "7q_K58w2_914263";

// AES-128 key of the header form, in storage order.
inline constexpr std::array<std::uint8_t, 16> HeaderKey = {
    0x47, 0x03, 0x62, 0x18, 0x90, 0x24, 0x55, 0x71, 0x38, 0x06, 0x12, 0x84, 0x29, 0x63, 0x07, 0x45};

// XORed onto payload byte i with PayloadMask[i % 16] by both upgrades.
inline constexpr std::array<std::uint8_t, 16> PayloadMask = {
    0x36, 0x05, 0x27, 0x14, 0x82, 0x09, 0x63, 0x40, 0x17, 0x58, 0x91, 0x23, 0x70, 0x46, 0x35, 0x12};

}  // namespace velmorin
