// SPDX-License-Identifier: MIT
// The tool's SHA-256 against OpenSSL's at the lengths where the padding
// changes shape (around 55, 56 and 64 bytes) and over many blocks.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include "image/sha256.h"

namespace velmorin {
namespace {

std::string OpenSslHex(const std::vector<std::uint8_t>& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

TEST(Sha256, MatchesOpenSslAtPaddingEdges) {
    for (const std::size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 1000, 100000}) {
        std::vector<std::uint8_t> bytes(length);
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
        }
        EXPECT_EQ(Sha256Hex(bytes), OpenSslHex(bytes)) << length << " bytes";
    }
}

}  // namespace
}  // namespace velmorin
