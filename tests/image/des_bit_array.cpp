// SPDX-License-Identifier: MIT
// The bit-array DES oracle.
#include "image/des_bit_array.h"

#include <algorithm>
#include <vector>

#include "image/des_tables.h"

namespace velmorin::testing {
namespace {

using Bits = std::vector<std::uint8_t>;

Bits ToBits(const DesBlock& bytes, bool lsbFirst) {
    Bits bits(64);
    for (int i = 0; i < 64; ++i) {
        const int shift = lsbFirst ? i % 8 : 7 - i % 8;
        bits[i] = (bytes[i / 8] >> shift) & 1;
    }
    return bits;
}

DesBlock FromBits(const Bits& bits, bool lsbFirst) {
    DesBlock bytes{};
    for (int i = 0; i < 64; ++i) {
        const int shift = lsbFirst ? i % 8 : 7 - i % 8;
        bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | (bits[i] << shift));
    }
    return bytes;
}

template <std::size_t n>
Bits Permute(const Bits& source, const std::array<std::uint8_t, n>& table) {
    Bits result(n);
    for (std::size_t j = 0; j < n; ++j) {
        result[j] = source[table[j] - 1];
    }
    return result;
}

std::vector<Bits> Subkeys(const DesBlock& key, const DesConventions& conventions) {
    Bits cd = Permute(ToBits(key, conventions.leastSignificantBitFirst), des::kPermutedChoice1);
    std::vector<Bits> subkeys;
    for (int round = 0; round < 16; ++round) {
        for (int shift = 0; shift < des::kKeyShifts[round]; ++shift) {
            std::rotate(cd.begin(), cd.begin() + 1, cd.begin() + 28);
            std::rotate(cd.begin() + 28, cd.begin() + 29, cd.end());
        }
        subkeys.push_back(Permute(cd, des::kPermutedChoice2));
    }
    return subkeys;
}

Bits RoundFunction(const Bits& half, const Bits& subkey, const DesConventions& conventions) {
    Bits x = Permute(half, des::kExpansion);
    for (int j = 0; j < 48; ++j) {
        x[j] ^= subkey[j];
    }
    Bits y(32);
    for (int g = 0; g < 8; ++g) {
        const int row = 2 * x[6 * g] + x[6 * g + 5];
        const int column = 8 * x[6 * g + 1] + 4 * x[6 * g + 2] + 2 * x[6 * g + 3] + x[6 * g + 4];
        const int value = des::kSBoxes[g][row][column];
        for (int b = 0; b < 4; ++b) {
            const int bit = conventions.sBoxLeastSignificantBitFirst ? b : 3 - b;
            y[4 * g + b] = (value >> bit) & 1;
        }
    }
    return Permute(y, des::kPermutation);
}

}  // namespace

DesBlock BitArrayDes(const DesBlock& key, const DesBlock& block, DesDirection direction,
                     const DesConventions& conventions) {
    const std::vector<Bits> subkeys = Subkeys(key, conventions);
    const Bits m =
        Permute(ToBits(block, conventions.leastSignificantBitFirst), des::kInitialPermutation);
    Bits left(m.begin(), m.begin() + 32);
    Bits right(m.begin() + 32, m.end());

    if (direction == DesDirection::Encrypt || conventions.swapHalvesAtEnd) {
        // Standard decryption is encryption with the subkeys reversed.
        for (int r = 0; r < 16; ++r) {
            const int k = direction == DesDirection::Encrypt ? r : 15 - r;
            Bits f = RoundFunction(right, subkeys[k], conventions);
            for (int j = 0; j < 32; ++j) {
                f[j] ^= left[j];
            }
            left = right;
            right = f;
        }
    } else {
        // The variant's decryption: T = L; L = f(L, Kr) XOR R; R = T, r = 16..1.
        for (int r = 15; r >= 0; --r) {
            Bits f = RoundFunction(left, subkeys[r], conventions);
            for (int j = 0; j < 32; ++j) {
                f[j] ^= right[j];
            }
            right = left;
            left = f;
        }
    }

    Bits preoutput = conventions.swapHalvesAtEnd ? right : left;
    const Bits& second = conventions.swapHalvesAtEnd ? left : right;
    preoutput.insert(preoutput.end(), second.begin(), second.end());
    return FromBits(Permute(preoutput, des::kFinalPermutation),
                    conventions.leastSignificantBitFirst);
}

}  // namespace velmorin::testing
