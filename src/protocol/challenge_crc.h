// SPDX-License-Identifier: MIT
// The CRC of the HID bootloader's challenge: CRC-32 with the polynomial
// 0x04C11DB7, initial value 0xFFFFFFFF, no reflection and no final XOR, over
// 32-bit words fed most significant bit first. The charger makes the CRC of
// the nonce and its four answer words come out 0.
#pragma once

#include <cstdint>
#include <span>

namespace velmorin {

std::uint32_t ChallengeCrc(std::span<const std::uint32_t> words);

}  // namespace velmorin
