// SPDX-License-Identifier: MIT
// SHA-256 as the standard defines it: 64-byte blocks, big-endian words, the
// message length in bits after the padding.
#include "image/sha256.h"

#include <algorithm>
#include <vector>

#include "image/update_file_reader.h"

namespace velmorin {
namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t RotateRight(std::uint32_t value, int count) {
    return (value >> count) | (value << (32 - count));
}

// 64 KiB pieces: few reads for an update file, little memory.
constexpr std::size_t kFilePieceSize = 64 * 1024;

}  // namespace

void Sha256::Compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> schedule{};
    for (std::size_t i = 0; i < 16; ++i) {
        schedule[i] = static_cast<std::uint32_t>(block[4 * i]) << 24 |
                      static_cast<std::uint32_t>(block[4 * i + 1]) << 16 |
                      static_cast<std::uint32_t>(block[4 * i + 2]) << 8 |
                      static_cast<std::uint32_t>(block[4 * i + 3]);
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = RotateRight(schedule[i - 15], 7) ^
                                 RotateRight(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
        const std::uint32_t s1 = RotateRight(schedule[i - 2], 17) ^
                                 RotateRight(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
        schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
    }
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    std::uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t temp1 = h + sum1 + choice + kRoundConstants[i] + schedule[i];
        const std::uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t temp2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + temp1;
        d = c;
        c = b;
        b = a;
        a = temp1 + temp2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256::Update(std::span<const std::uint8_t> bytes) {
    m_totalBytes += bytes.size();
    std::size_t used = 0;
    if (m_pendingSize > 0) {
        used = std::min(bytes.size(), kBlockSize - m_pendingSize);
        std::copy_n(bytes.begin(), used,
                    m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingSize));
        m_pendingSize += used;
        if (m_pendingSize < kBlockSize) {
            return;
        }
        Compress(m_pending.data());
        m_pendingSize = 0;
    }
    for (; bytes.size() - used >= kBlockSize; used += kBlockSize) {
        Compress(bytes.data() + used);
    }
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(used), bytes.end(), m_pending.begin());
    m_pendingSize = bytes.size() - used;
}

Sha256::Digest Sha256::Finish() {
    const std::uint64_t bitLength = m_totalBytes * 8;
    // 0x80, zeros up to 56 bytes into a block, then the length big-endian.
    std::array<std::uint8_t, kBlockSize + 8> padding{};
    padding[0] = 0x80;
    const std::size_t zeros =
        (m_pendingSize < 56 ? 56 - m_pendingSize : kBlockSize + 56 - m_pendingSize) - 1;
    for (std::size_t i = 0; i < 8; ++i) {
        padding[1 + zeros + i] = static_cast<std::uint8_t>(bitLength >> (56 - 8 * i));
    }
    Update(std::span<const std::uint8_t>(padding.data(), 1 + zeros + 8));
    Digest digest{};
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<std::uint8_t>(m_state[i] >> (24 - 8 * j));
        }
    }
    return digest;
}

namespace {

std::string HexOf(const Sha256::Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

}  // namespace

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return HexOf(hash.Finish());
}

std::string Sha256HexOfFile(const std::filesystem::path& path) {
    UpdateFileReader reader(path);
    if (!reader.IsOpen()) {
        return {};
    }
    Sha256 hash;
    std::vector<std::uint8_t> piece(kFilePieceSize);
    for (;;) {
        const std::int64_t count = reader.Read(piece);
        if (count < 0) {
            return {};
        }
        if (count == 0) {
            break;
        }
        hash.Update(std::span<const std::uint8_t>(piece.data(), static_cast<std::size_t>(count)));
    }
    return HexOf(hash.Finish());
}

}  // namespace velmorin
