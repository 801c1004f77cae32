// SPDX-License-Identifier: MIT
// SHA-256 of bytes and of files, for naming exactly which update file went
// into a charger. The tool's own code: the shipped programs carry no
// cryptography library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace velmorin {

// A running SHA-256: Update with the bytes in order, then Finish once.
class Sha256 {
public:
    static constexpr std::size_t kDigestSize = 32;
    using Digest = std::array<std::uint8_t, kDigestSize>;

    void Update(std::span<const std::uint8_t> bytes);
    // The digest of everything given; the object is spent afterwards.
    Digest Finish();

private:
    static constexpr std::size_t kBlockSize = 64;
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, kBlockSize> m_pending{};
    std::size_t m_pendingSize = 0;
    std::uint64_t m_totalBytes = 0;
};

// The digest as 64 lowercase hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// The digest of the file's contents as 64 lowercase hex digits, read in
// 64 KiB pieces; empty when the file cannot be opened or read (a missing
// file, a directory, something that is not a regular file, a read error).
std::string Sha256HexOfFile(const std::filesystem::path& path);

}  // namespace velmorin
