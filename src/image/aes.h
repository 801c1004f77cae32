// SPDX-License-Identifier: MIT
// AES-128 as the header form of update files uses it: each key word, state
// column and output column is a little-endian 32-bit word whose most
// significant byte is row 0. In byte terms every group of four bytes of key,
// input and output is reversed against standard AES.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace velmorin {

// The 44 words of an expanded key, in the cipher's word form.
struct AesRoundKeys {
    std::array<std::uint32_t, 44> words{};
};

inline constexpr std::size_t kAesHeaderLength = 512;

// The decryption schedule of the equivalent inverse cipher: the expanded key
// with InvMixColumns applied to the words of rounds 1 to 9. Without an
// argument, for HeaderKey.
AesRoundKeys AesPrepareDecryptKey();
AesRoundKeys AesPrepareDecryptKey(std::span<const std::uint8_t, 16> key);

// The plain expanded key, for enciphering (sealing).
AesRoundKeys AesPrepareEncryptKey();
AesRoundKeys AesPrepareEncryptKey(std::span<const std::uint8_t, 16> key);

// One 16-byte block; `in` and `out` may be the same bytes.
void AesDecryptBlock(const AesRoundKeys& keys, std::span<const std::uint8_t, 16> in,
                     std::span<std::uint8_t, 16> out);
void AesEncryptBlock(const AesRoundKeys& keys, std::span<const std::uint8_t, 16> in,
                     std::span<std::uint8_t, 16> out);

// The 512-byte header as 32 independent blocks, in place. Nothing past the
// 512 bytes is touched.
void AesDecryptHeader(const AesRoundKeys& keys, std::span<std::uint8_t, kAesHeaderLength> header);
void AesEncryptHeader(const AesRoundKeys& keys, std::span<std::uint8_t, kAesHeaderLength> header);

}  // namespace velmorin
