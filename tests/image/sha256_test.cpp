// SPDX-License-Identifier: MIT
// SHA-256 against the standard's own examples, whole and fed in pieces, and
// of files: the same digest as of the bytes, nothing for what cannot be read.
#include "image/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace velmorin {
namespace {

std::vector<std::uint8_t> BytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

std::string Hex(const Sha256::Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

struct KnownDigest {
    std::string message;
    std::string digest;
};

const KnownDigest kStandardExamples[] = {
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
};

TEST(Sha256, StandardExamplesWholeAndInPieces) {
    for (const KnownDigest& known : kStandardExamples) {
        const std::vector<std::uint8_t> bytes = BytesOf(known.message);
        EXPECT_EQ(Sha256Hex(bytes), known.digest) << known.message;
        // One byte at a time crosses every block boundary from the pending side.
        Sha256 hash;
        for (const std::uint8_t byte : bytes) {
            hash.Update(std::span<const std::uint8_t>(&byte, 1));
        }
        EXPECT_EQ(Hex(hash.Finish()), known.digest) << known.message;
    }
}

TEST(Sha256, MillionLetterAFedInUnevenPieces) {
    const std::vector<std::uint8_t> piece(9973, 'a');
    Sha256 hash;
    std::size_t left = 1000000;
    while (left > 0) {
        const std::size_t size = std::min(left, piece.size());
        hash.Update(std::span<const std::uint8_t>(piece.data(), size));
        left -= size;
    }
    EXPECT_EQ(Hex(hash.Finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, FileDigestMatchesBytesAcrossReadPieces) {
    testing::TempDirectory directory;
    // Longer than one 64 KiB read, not a whole number of them.
    std::vector<std::uint8_t> bytes(3 * 65536 + 17);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
    }
    const auto file = directory.Path() / "update.bin";
    testing::WriteBytes(file, bytes);
    EXPECT_EQ(Sha256HexOfFile(file), Sha256Hex(bytes));

    const auto empty = directory.Path() / "empty.bin";
    testing::WriteBytes(empty, {});
    EXPECT_EQ(Sha256HexOfFile(empty), kStandardExamples[2].digest);

    EXPECT_EQ(Sha256HexOfFile(directory.Path() / "missing.bin"), "");
    EXPECT_EQ(Sha256HexOfFile(directory.Path()), "");
}

}  // namespace
}  // namespace velmorin
