// SPDX-License-Identifier: MIT
// DES on arrays of single bits, step by step as the cipher is defined: the
// oracle against which the table-driven variant is checked. With the
// standard conventions it is FIPS 46-3 DES, which tests compare with OpenSSL
// to show that the tables are right.
#pragma once

#include <array>
#include <cstdint>

#include "image/des_variant.h"

namespace velmorin::testing {

struct DesConventions {
    bool leastSignificantBitFirst;  // how bytes become bit arrays and back
    bool sBoxLeastSignificantBitFirst;
    bool swapHalvesAtEnd;
};

inline constexpr DesConventions kVariantDes{true, true, false};
inline constexpr DesConventions kStandardDes{false, false, true};

using DesBlock = std::array<std::uint8_t, 8>;

// Enciphers or deciphers one block. Decryption runs the subkeys from 16 down
// to 1 on the same round structure, which inverts encryption under both
// conventions.
DesBlock BitArrayDes(const DesBlock& key, const DesBlock& block, DesDirection direction,
                     const DesConventions& conventions);

}  // namespace velmorin::testing
