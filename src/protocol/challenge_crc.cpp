// SPDX-License-Identifier: MIT
// The challenge CRC, bit by bit (it runs over five words per start packet).
#include "protocol/challenge_crc.h"

namespace velmorin {

std::uint32_t ChallengeCrc(std::span<const std::uint32_t> words) {
    constexpr std::uint32_t kPolynomial = 0x04C11DB7;
    std::uint32_t crc = 0xFFFFFFFF;
    for (const std::uint32_t word : words) {
        for (int bit = 31; bit >= 0; --bit) {
            const std::uint32_t feedback = (crc >> 31) ^ ((word >> bit) & 1u);
            crc <<= 1;
            if (feedback != 0) {
                crc ^= kPolynomial;
            }
        }
    }
    return crc;
}

}  // namespace velmorin
