// SPDX-License-Identifier: MIT
// Two-key Triple DES over the DES variant. Since the blocks stand alone, four
// of them go through the rounds side by side, which lets the processor
// overlap their table look-ups.
#include "image/triple_des.h"

#include <array>
#include <cstddef>
#include <span>

#include "image/cipher_secrets.h"
#include "image/des_rounds.h"
#include "image/des_variant.h"

namespace velmorin {
namespace {

struct TripleDesKeys {
    DesSchedule first;
    DesSchedule second;
};

TripleDesKeys ImageKeys() {
    // K1 is bytes 0-7 of the key text, K2 bytes 8-15 (the text's last seven
    // characters and its terminating NUL).
    std::array<std::uint8_t, 16> keyBuffer{};
    for (std::size_t i = 0; i < ImageKeyText.size() && i < keyBuffer.size(); ++i) {
        keyBuffer[i] = static_cast<std::uint8_t>(ImageKeyText[i]);
    }
    TripleDesKeys keys;
    DesKeySchedule(std::span<const std::uint8_t, 8>(keyBuffer.data(), 8), keys.first);
    DesKeySchedule(std::span<const std::uint8_t, 8>(keyBuffer.data() + 8, 8), keys.second);
    return keys;
}

// Runs `lanes` blocks through the three DES passes. The final permutation of
// one pass and the initial permutation of the next cancel, so the halves go
// from pass to pass as they stand.
template <int lanes, bool decrypt>
inline void TripleBlocks(const std::uint8_t* in, std::uint8_t* out, const TripleDesKeys& keys) {
    std::uint32_t left[lanes];
    std::uint32_t right[lanes];
    for (int n = 0; n < lanes; ++n) {
        const std::uint64_t permuted = des::InitialPermutation(in + 8 * n);
        left[n] = static_cast<std::uint32_t>(permuted >> 32);
        right[n] = static_cast<std::uint32_t>(permuted);
    }
    // Decryption is D1 E2 D1, encryption E1 D2 E1.
    if constexpr (decrypt) {
        des::DecryptRounds(left, right, keys.first);
        des::EncryptRounds(left, right, keys.second);
        des::DecryptRounds(left, right, keys.first);
    } else {
        des::EncryptRounds(left, right, keys.first);
        des::DecryptRounds(left, right, keys.second);
        des::EncryptRounds(left, right, keys.first);
    }
    for (int n = 0; n < lanes; ++n) {
        des::FinalPermutation((std::uint64_t{left[n]} << 32) | right[n], out + 8 * n);
    }
}

template <bool decrypt>
bool TripleDes(const std::uint8_t* input, std::int32_t length, std::uint8_t* output) {
    if (input == nullptr || output == nullptr || length <= 0) {
        return false;
    }
    const TripleDesKeys keys = ImageKeys();
    const std::size_t blocks = (static_cast<std::size_t>(length) + 7) / 8;
    constexpr int kLanes = 4;
    std::size_t block = 0;
    for (; block + kLanes <= blocks; block += kLanes) {
        TripleBlocks<kLanes, decrypt>(input + 8 * block, output + 8 * block, keys);
    }
    for (; block < blocks; ++block) {
        TripleBlocks<1, decrypt>(input + 8 * block, output + 8 * block, keys);
    }
    return true;
}

}  // namespace

bool TripleDesDecrypt(const std::uint8_t* input, std::int32_t length, std::uint8_t* output) {
    return TripleDes<true>(input, length, output);
}

bool TripleDesEncrypt(const std::uint8_t* input, std::int32_t length, std::uint8_t* output) {
    return TripleDes<false>(input, length, output);
}

}  // namespace velmorin
