// SPDX-License-Identifier: MIT
// The DES variant: its tables are derived at compile time from the standard
// ones under the variant's bit order, so the fast form and the definition
// cannot drift apart.
#include "image/des_variant.h"

#include <array>

#include "image/des_rounds.h"
#include "image/des_tables.h"

namespace velmorin {
namespace des {
namespace {

// Where each source element lands under a 1-based permutation table:
// Destinations(table)[source] = destination.
template <std::size_t n>
constexpr std::array<int, n> Destinations(const std::array<std::uint8_t, n>& table) {
    std::array<int, n> destinations{};
    for (std::size_t j = 0; j < n; ++j) {
        destinations[table[j] - 1] = static_cast<int>(j);
    }
    return destinations;
}

// Packed positions: element j of the permuted block at bit 63 - j, element j
// of a half at bit 31 - j, input bit i (byte i / 8, bit i % 8) at bit i.
constexpr RoundTables BuildRoundTables() {
    constexpr auto initialDestinations = Destinations(kInitialPermutation);
    constexpr auto finalDestinations = Destinations(kFinalPermutation);
    constexpr auto spreadDestinations = Destinations(kPermutation);
    RoundTables tables{};
    for (int byte = 0; byte < 8; ++byte) {
        for (int value = 0; value < 256; ++value) {
            std::uint64_t permuted = 0;
            std::uint64_t output = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (((value >> bit) & 1) == 0) {
                    continue;
                }
                // Input byte `byte`, bit `bit` is element 8 * byte + bit.
                permuted |= std::uint64_t{1} << (63 - initialDestinations[8 * byte + bit]);
                // Bit 8 * byte + bit of the packed preoutput is element 63 - that.
                output |= std::uint64_t{1} << finalDestinations[63 - (8 * byte + bit)];
            }
            tables.initial[byte][value] = permuted;
            tables.final[byte][value] = output;
        }
    }
    for (int group = 0; group < 8; ++group) {
        for (int window = 0; window < 64; ++window) {
            // The window's bit 5 is the group's first expanded element x0.
            const int row = ((window >> 4) & 2) | (window & 1);
            const int column = (window >> 1) & 0xF;
            const int value = kSBoxes[group][row][column];
            std::uint32_t spread = 0;
            for (int b = 0; b < 4; ++b) {
                // The variant puts bit b of the S-box value at Y[4g + b].
                if (((value >> b) & 1) != 0) {
                    spread |= std::uint32_t{1} << (31 - spreadDestinations[4 * group + b]);
                }
            }
            tables.spread[group][window] = spread;
        }
    }
    return tables;
}

}  // namespace

constinit const RoundTables kRoundTables = BuildRoundTables();

}  // namespace des

void DesKeySchedule(std::span<const std::uint8_t, 8> key, DesSchedule& schedule) {
    std::array<std::uint8_t, 56> cd{};
    for (int j = 0; j < 56; ++j) {
        const int element = des::kPermutedChoice1[j] - 1;
        cd[j] = (key[element / 8] >> (element % 8)) & 1;
    }
    for (int round = 0; round < 16; ++round) {
        for (int shift = 0; shift < des::kKeyShifts[round]; ++shift) {
            const std::uint8_t c0 = cd[0];
            const std::uint8_t d0 = cd[28];
            for (int j = 0; j < 27; ++j) {
                cd[j] = cd[j + 1];
                cd[28 + j] = cd[29 + j];
            }
            cd[27] = c0;
            cd[55] = d0;
        }
        std::uint32_t s1357Groups = 0;
        std::uint32_t s2468Groups = 0;
        for (int group = 0; group < 8; ++group) {
            std::uint32_t window = 0;
            for (int k = 0; k < 6; ++k) {
                window = (window << 1) | cd[des::kPermutedChoice2[6 * group + k] - 1];
            }
            // Groups S1, S3, S5, S7 sit at bits 24, 16, 8, 0 of the half rotated
            // right by 3; S2, S4, S6, S8 likewise in the half rotated left by 1.
            const int shift = 24 - 8 * (group / 2);
            if (group % 2 == 0) {
                s1357Groups |= window << shift;
            } else {
                s2468Groups |= window << shift;
            }
        }
        schedule.words[2 * round] = s1357Groups;
        schedule.words[2 * round + 1] = s2468Groups;
    }
}

void DesCipherBlock(const DesSchedule& schedule, std::span<const std::uint8_t, 8> in,
                    std::span<std::uint8_t, 8> out, DesDirection direction) {
    const std::uint64_t permuted = des::InitialPermutation(in.data());
    std::uint32_t left[1] = {static_cast<std::uint32_t>(permuted >> 32)};
    std::uint32_t right[1] = {static_cast<std::uint32_t>(permuted)};
    if (direction == DesDirection::Encrypt) {
        des::EncryptRounds(left, right, schedule);
    } else {
        des::DecryptRounds(left, right, schedule);
    }
    des::FinalPermutation((std::uint64_t{left[0]} << 32) | right[0], out.data());
}

}  // namespace velmorin
