// SPDX-License-Identifier: MIT
// The ciphers of update files: the DES variant against its bit-array
// definition and against standard DES, Triple DES over whole buffers, and
// AES-128 under the word byte order against known vectors and OpenSSL.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

#include "image/aes.h"
#include "image/cipher_secrets.h"
#include "image/des_bit_array.h"
#include "image/des_variant.h"
#include "image/triple_des.h"

namespace velmorin {
namespace {

using testing::BitArrayDes;
using testing::DesBlock;

DesBlock RandomBlock(std::mt19937& random) {
    DesBlock block;
    for (auto& byte : block) {
        byte = static_cast<std::uint8_t>(random());
    }
    return block;
}

DesBlock OpenSslDesEncrypt(const DesBlock& key, const DesBlock& block) {
    DES_cblock keyBlock;
    std::copy(key.begin(), key.end(), keyBlock);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&keyBlock, &schedule);
    DES_cblock in;
    DES_cblock out;
    std::copy(block.begin(), block.end(), in);
    DES_ecb_encrypt(&in, &out, &schedule, DES_ENCRYPT);
    DesBlock result;
    std::copy(out, out + 8, result.begin());
    return result;
}

DesBlock FastDes(const DesBlock& key, const DesBlock& block, DesDirection direction) {
    DesSchedule schedule;
    DesKeySchedule(key, schedule);
    DesBlock out;
    DesCipherBlock(schedule, block, out, direction);
    return out;
}

std::array<DesBlock, 2> ImageKeys() {
    std::array<DesBlock, 2> keys{};
    for (std::size_t i = 0; i < ImageKeyText.size(); ++i) {
        keys[i / 8][i % 8] = static_cast<std::uint8_t>(ImageKeyText[i]);
    }
    return keys;
}

TEST(DesTables, BitArrayFormWithStandardConventionsIsFipsDes) {
    // The textbook vector, then random keys and blocks against OpenSSL: this
    // shows that every table was copied right.
    const DesBlock key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    const DesBlock plain = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const DesBlock cipher = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
    EXPECT_EQ(BitArrayDes(key, plain, DesDirection::Encrypt, testing::kStandardDes), cipher);
    EXPECT_EQ(BitArrayDes(key, cipher, DesDirection::Decrypt, testing::kStandardDes), plain);

    std::mt19937 random(1);
    for (int i = 0; i < 200; ++i) {
        const DesBlock k = RandomBlock(random);
        const DesBlock b = RandomBlock(random);
        ASSERT_EQ(BitArrayDes(k, b, DesDirection::Encrypt, testing::kStandardDes),
                  OpenSslDesEncrypt(k, b));
    }
}

TEST(DesVariant, TableFormGivesTheBytesOfTheBitArrayForm) {
    std::mt19937 random(2);
    for (int i = 0; i < 2000; ++i) {
        const DesBlock key = RandomBlock(random);
        const DesBlock block = RandomBlock(random);
        for (const DesDirection direction : {DesDirection::Encrypt, DesDirection::Decrypt}) {
            ASSERT_EQ(FastDes(key, block, direction),
                      BitArrayDes(key, block, direction, testing::kVariantDes))
                << "case " << i;
        }
    }
}

TEST(DesVariant, DiffersFromStandardDesOnEveryBlock) {
    std::mt19937 random(3);
    for (int i = 0; i < 500; ++i) {
        const DesBlock key = RandomBlock(random);
        const DesBlock block = RandomBlock(random);
        ASSERT_NE(FastDes(key, block, DesDirection::Encrypt), OpenSslDesEncrypt(key, block));
    }
}

TEST(DesVariant, DecryptionInvertsEncryptionUnderBothImageKeys) {
    std::mt19937 random(4);
    for (const DesBlock& key : ImageKeys()) {
        DesSchedule schedule;
        DesKeySchedule(key, schedule);
        for (int i = 0; i < 200; ++i) {
            const DesBlock block = RandomBlock(random);
            DesBlock work = block;
            DesCipherBlock(schedule, work, work, DesDirection::Encrypt);  // in place
            ASSERT_NE(work, block);
            DesCipherBlock(schedule, work, work, DesDirection::Decrypt);
            ASSERT_EQ(work, block);
        }
    }
}

// D1(E2(D1(block))) by the bit-array definition.
DesBlock OracleTripleDecrypt(const DesBlock& block) {
    const auto keys = ImageKeys();
    DesBlock x = BitArrayDes(keys[0], block, DesDirection::Decrypt, testing::kVariantDes);
    x = BitArrayDes(keys[1], x, DesDirection::Encrypt, testing::kVariantDes);
    return BitArrayDes(keys[0], x, DesDirection::Decrypt, testing::kVariantDes);
}

TEST(TripleDes, DeciphersEveryBlockOnItsOwnAsDefined) {
    // 37 blocks and a short one: the four-block lanes, the single-block tail
    // and the zero-padded last block all take part.
    constexpr std::int32_t kLength = 8 * 37 + 3;
    std::mt19937 random(5);
    std::vector<std::uint8_t> input(8 * 38, 0);
    for (std::int32_t i = 0; i < kLength; ++i) {
        input[i] = static_cast<std::uint8_t>(random());
    }
    std::vector<std::uint8_t> output(input.size(), 0xEE);
    ASSERT_TRUE(TripleDesDecrypt(input.data(), kLength, output.data()));
    for (std::size_t block = 0; block < 38; ++block) {
        DesBlock in;
        std::copy_n(input.begin() + 8 * block, 8, in.begin());
        DesBlock out;
        std::copy_n(output.begin() + 8 * block, 8, out.begin());
        ASSERT_EQ(out, OracleTripleDecrypt(in)) << "block " << block;
    }

    // In place gives the same bytes; encryption is the inverse.
    std::vector<std::uint8_t> inPlace = input;
    ASSERT_TRUE(TripleDesDecrypt(inPlace.data(), kLength, inPlace.data()));
    EXPECT_EQ(inPlace, output);
    ASSERT_TRUE(TripleDesEncrypt(inPlace.data(), kLength, inPlace.data()));
    EXPECT_EQ(inPlace, input);
}

TEST(TripleDes, LengthsAndMissingBuffers) {
    std::vector<std::uint8_t> input(16, 0x5A);
    struct Row {
        const char* name;
        const std::uint8_t* in;
        std::int32_t length;
        bool outputGiven;
        bool result;
        std::size_t bytesWritten;
    };
    const Row rows[] = {
        {"length 0", input.data(), 0, true, false, 0},
        {"negative length", input.data(), -5, true, false, 0},
        {"no input", nullptr, 8, true, false, 0},
        {"no output", input.data(), 8, false, false, 0},
        {"length 1 is one whole block", input.data(), 1, true, true, 8},
        {"length 9 is two blocks", input.data(), 9, true, true, 16},
    };
    for (const Row& row : rows) {
        std::vector<std::uint8_t> output(24, 0xEE);
        EXPECT_EQ(TripleDesDecrypt(row.in, row.length, row.outputGiven ? output.data() : nullptr),
                  row.result)
            << row.name;
        for (std::size_t i = 0; i < output.size(); ++i) {
            EXPECT_EQ(output[i] != 0xEE, i < row.bytesWritten) << row.name << " byte " << i;
        }
    }
}

// FIPS-197 C.1 bytes with every group of four reversed.
std::array<std::uint8_t, 16> Reversed4(std::array<std::uint8_t, 16> bytes) {
    for (std::size_t i = 0; i < 16; i += 4) {
        std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
    }
    return bytes;
}

TEST(Aes, FipsVectorUnderTheWordByteOrder) {
    const std::array<std::uint8_t, 16> key = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                              0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    const std::array<std::uint8_t, 16> plain = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    const std::array<std::uint8_t, 16> cipher = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                                                 0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
    std::array<std::uint8_t, 16> out{};
    AesDecryptBlock(AesPrepareDecryptKey(Reversed4(key)), Reversed4(cipher), out);
    EXPECT_EQ(out, Reversed4(plain));
    AesEncryptBlock(AesPrepareEncryptKey(Reversed4(key)), Reversed4(plain), out);
    EXPECT_EQ(out, Reversed4(cipher));
    // Without the reversal the standard vector does not come out.
    AesDecryptBlock(AesPrepareDecryptKey(key), cipher, out);
    EXPECT_NE(out, plain);
}

TEST(Aes, HeaderIsThirtyTwoIndependentBlocksAndNothingMore) {
    std::mt19937 random(6);
    std::vector<std::uint8_t> buffer(512 + 32);
    for (auto& byte : buffer) {
        byte = static_cast<std::uint8_t>(random());
    }
    const std::vector<std::uint8_t> original = buffer;
    AesDecryptHeader(AesPrepareDecryptKey(), std::span<std::uint8_t, 512>(buffer.data(), 512));

    // OpenSSL's AES-128-ECB on the byte-reversed key and blocks.
    std::array<std::uint8_t, 16> key;
    std::copy(HeaderKey.begin(), HeaderKey.end(), key.begin());
    key = Reversed4(key);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_DecryptInit_ex(context, EVP_aes_128_ecb(), nullptr, key.data(), nullptr), 1);
    EVP_CIPHER_CTX_set_padding(context, 0);
    for (std::size_t offset = 0; offset < 512; offset += 16) {
        std::array<std::uint8_t, 16> block;
        std::copy_n(original.begin() + offset, 16, block.begin());
        block = Reversed4(block);
        std::array<std::uint8_t, 16> plain{};
        int written = 0;
        ASSERT_EQ(EVP_DecryptUpdate(context, plain.data(), &written, block.data(), 16), 1);
        ASSERT_TRUE(std::equal(buffer.begin() + offset, buffer.begin() + offset + 16,
                               Reversed4(plain).begin()))
            << "block at " << offset;
    }
    EVP_CIPHER_CTX_free(context);
    EXPECT_TRUE(std::equal(buffer.begin() + 512, buffer.end(), original.begin() + 512));

    AesEncryptHeader(AesPrepareEncryptKey(), std::span<std::uint8_t, 512>(buffer.data(), 512));
    EXPECT_EQ(buffer, original);
}

}  // namespace
}  // namespace velmorin
