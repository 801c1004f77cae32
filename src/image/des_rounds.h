// SPDX-License-Identifier: MIT
// The table-driven core of the DES variant, shared by the single-block
// cipher and the Triple DES loops (internal to the image library).
//
// A half block is packed into a 32-bit word with element j at bit 31 - j; a
// whole block after the initial permutation into a 64-bit word with element j
// at bit 63 - j. Each S-box group of six expanded bits is then a contiguous
// window of the half rotated right by 3 (S1, S3, S5, S7) or left by 1
// (S2, S4, S6, S8), at bits 24, 16, 8 and 0.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "image/des_variant.h"

namespace velmorin::des {

struct RoundTables {
    // initial[k][v]: the packed permuted block contributed by input byte k
    // holding v. final[k][v]: the output bytes (as a little-endian word)
    // contributed by byte k (bits 8k..8k+7) of the packed preoutput.
    std::uint64_t initial[8][256];
    std::uint64_t final[8][256];
    // spread[g][v]: the permutation P applied to the S-box output of group g
    // for the six-bit input v, in the packed half's layout.
    std::uint32_t spread[8][64];
};

extern const RoundTables kRoundTables;

inline std::uint32_t RoundFunction(std::uint32_t half, const std::uint32_t* key) {
    const auto& sp = kRoundTables.spread;
    const std::uint32_t u = std::rotr(half, 3) ^ key[0];
    const std::uint32_t t = std::rotl(half, 1) ^ key[1];
    return sp[0][(u >> 24) & 0x3F] ^ sp[2][(u >> 16) & 0x3F] ^ sp[4][(u >> 8) & 0x3F] ^
           sp[6][u & 0x3F] ^ sp[1][(t >> 24) & 0x3F] ^ sp[3][(t >> 16) & 0x3F] ^
           sp[5][(t >> 8) & 0x3F] ^ sp[7][t & 0x3F];
}

inline std::uint64_t InitialPermutation(const std::uint8_t* in) {
    const auto& ip = kRoundTables.initial;
    return ip[0][in[0]] | ip[1][in[1]] | ip[2][in[2]] | ip[3][in[3]] | ip[4][in[4]] | ip[5][in[5]] |
           ip[6][in[6]] | ip[7][in[7]];
}

inline void FinalPermutation(std::uint64_t preoutput, std::uint8_t* out) {
    const auto& fp = kRoundTables.final;
    std::uint64_t bytes = 0;
    for (int k = 0; k < 8; ++k) {
        bytes |= fp[k][(preoutput >> (8 * k)) & 0xFF];
    }
    // The output word is little-endian by construction: byte i is bits 8i..8i+7.
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(bytes >> (8 * i));
    }
}

// Sixteen encryption rounds on each of `lanes` independent blocks, in
// place. Two rounds at a time keep the halves where they are, so after the
// last round left and right stand as the preoutput wants them (no final
// swap). Interleaving blocks lets the processor overlap their look-ups.
template <int lanes>
inline void EncryptRounds(std::uint32_t (&left)[lanes], std::uint32_t (&right)[lanes],
                          const DesSchedule& schedule) {
    const std::uint32_t* key = schedule.words.data();
    for (int round = 0; round < 16; round += 2) {
        for (int n = 0; n < lanes; ++n) {
            left[n] ^= RoundFunction(right[n], key + 2 * round);
        }
        for (int n = 0; n < lanes; ++n) {
            right[n] ^= RoundFunction(left[n], key + 2 * round + 2);
        }
    }
}

// The exact inverse of EncryptRounds: subkeys 16 down to 1.
template <int lanes>
inline void DecryptRounds(std::uint32_t (&left)[lanes], std::uint32_t (&right)[lanes],
                          const DesSchedule& schedule) {
    const std::uint32_t* key = schedule.words.data();
    for (int round = 15; round > 0; round -= 2) {
        for (int n = 0; n < lanes; ++n) {
            right[n] ^= RoundFunction(left[n], key + 2 * round);
        }
        for (int n = 0; n < lanes; ++n) {
            left[n] ^= RoundFunction(right[n], key + 2 * round - 2);
        }
    }
}

}  // namespace velmorin::des
