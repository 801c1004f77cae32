// SPDX-License-Identifier: MIT
// AES-128 on 32-bit words read little-endian, row 0 in the top byte. The
// header form deciphers only 32 blocks per file, so this form favours
// clarity over speed: the S-boxes are derived at compile time and the state
// is worked on as a 4x4 byte matrix.
#include "image/aes.h"

#include "image/cipher_secrets.h"

namespace velmorin {
namespace {

constexpr std::uint8_t Times2(std::uint8_t x) {
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0x00));
}

// Powers and logarithms of the generator 3, so that products and inverses
// are table look-ups (also while the compiler builds the tables below).
struct FieldTables {
    std::array<std::uint8_t, 255> power{};
    std::array<int, 256> logarithm{};
};

constexpr FieldTables BuildFieldTables() {
    FieldTables field;
    std::uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        field.power[i] = x;
        field.logarithm[x] = i;
        x = static_cast<std::uint8_t>(Times2(x) ^ x);  // x * 3
    }
    return field;
}

constexpr FieldTables kField = BuildFieldTables();

constexpr std::uint8_t Multiply(std::uint8_t a, std::uint8_t b) {
    if (a == 0 || b == 0) {
        return 0;
    }
    return kField.power[(kField.logarithm[a] + kField.logarithm[b]) % 255];
}

struct SBoxes {
    std::array<std::uint8_t, 256> forward{};
    std::array<std::uint8_t, 256> inverse{};
};

// The S-box is the multiplicative inverse in GF(2^8) followed by the affine
// map with constant 0x63.
constexpr SBoxes BuildSBoxes() {
    SBoxes boxes;
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t inverse = x == 0 ? 0 : kField.power[(255 - kField.logarithm[x]) % 255];
        std::uint8_t s = inverse;
        for (int shift = 1; shift <= 4; ++shift) {
            s ^= static_cast<std::uint8_t>((inverse << shift) | (inverse >> (8 - shift)));
        }
        s ^= 0x63;
        boxes.forward[x] = s;
        boxes.inverse[s] = static_cast<std::uint8_t>(x);
    }
    return boxes;
}

constinit const SBoxes kSBoxes = BuildSBoxes();

// kProducts[c][x] = c * x in GF(2^8), for the MixColumns coefficients 0-15.
constexpr std::array<std::array<std::uint8_t, 256>, 16> BuildProducts() {
    std::array<std::array<std::uint8_t, 256>, 16> products{};
    for (int c = 0; c < 16; ++c) {
        for (int x = 0; x < 256; ++x) {
            products[c][x] = Multiply(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(x));
        }
    }
    return products;
}

constinit const std::array<std::array<std::uint8_t, 256>, 16> kProducts = BuildProducts();

// state[row][column]
using State = std::array<std::array<std::uint8_t, 4>, 4>;

std::uint32_t LoadWord(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void StoreWord(std::uint32_t word, std::uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(word >> (8 * i));
    }
}

std::uint8_t RowByte(std::uint32_t word, int row) {
    return static_cast<std::uint8_t>(word >> (24 - 8 * row));
}

State LoadState(std::span<const std::uint8_t, 16> block) {
    State state{};
    for (int column = 0; column < 4; ++column) {
        const std::uint32_t word = LoadWord(block.data() + 4 * column);
        for (int row = 0; row < 4; ++row) {
            state[row][column] = RowByte(word, row);
        }
    }
    return state;
}

void StoreState(const State& state, std::span<std::uint8_t, 16> block) {
    for (int column = 0; column < 4; ++column) {
        std::uint32_t word = 0;
        for (int row = 0; row < 4; ++row) {
            word = (word << 8) | state[row][column];
        }
        StoreWord(word, block.data() + 4 * column);
    }
}

void AddRoundKey(State& state, const AesRoundKeys& keys, int round) {
    for (int column = 0; column < 4; ++column) {
        const std::uint32_t word = keys.words[4 * round + column];
        for (int row = 0; row < 4; ++row) {
            state[row][column] ^= RowByte(word, row);
        }
    }
}

void SubBytes(State& state, const std::array<std::uint8_t, 256>& box) {
    for (auto& row : state) {
        for (auto& byte : row) {
            byte = box[byte];
        }
    }
}

// Row r moves r places left (forward) or right (inverse).
void ShiftRows(State& state, bool inverse) {
    for (int row = 1; row < 4; ++row) {
        std::array<std::uint8_t, 4> shifted{};
        for (int column = 0; column < 4; ++column) {
            const int from = inverse ? (column - row + 4) % 4 : (column + row) % 4;
            shifted[column] = state[row][from];
        }
        state[row] = shifted;
    }
}

std::array<std::uint8_t, 4> MixColumn(const std::array<std::uint8_t, 4>& a, bool inverse) {
    const std::array<std::uint8_t, 4> coefficients =
        inverse ? std::array<std::uint8_t, 4>{0x0E, 0x0B, 0x0D, 0x09}
                : std::array<std::uint8_t, 4>{0x02, 0x03, 0x01, 0x01};
    std::array<std::uint8_t, 4> mixed{};
    for (int row = 0; row < 4; ++row) {
        for (int k = 0; k < 4; ++k) {
            mixed[row] ^= kProducts[coefficients[(k - row + 4) % 4]][a[k]];
        }
    }
    return mixed;
}

void MixColumns(State& state, bool inverse) {
    for (int column = 0; column < 4; ++column) {
        const std::array<std::uint8_t, 4> mixed = MixColumn(
            {state[0][column], state[1][column], state[2][column], state[3][column]}, inverse);
        for (int row = 0; row < 4; ++row) {
            state[row][column] = mixed[row];
        }
    }
}

std::uint32_t InvMixColumnsWord(std::uint32_t word) {
    const std::array<std::uint8_t, 4> mixed =
        MixColumn({RowByte(word, 0), RowByte(word, 1), RowByte(word, 2), RowByte(word, 3)}, true);
    return (std::uint32_t{mixed[0]} << 24) | (std::uint32_t{mixed[1]} << 16) |
           (std::uint32_t{mixed[2]} << 8) | mixed[3];
}

std::uint32_t SubWord(std::uint32_t word) {
    std::uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        result |= std::uint32_t{kSBoxes.forward[(word >> shift) & 0xFF]} << shift;
    }
    return result;
}

AesRoundKeys ExpandKey(std::span<const std::uint8_t, 16> key) {
    static constexpr std::array<std::uint8_t, 10> kRoundConstants = {0x01, 0x02, 0x04, 0x08, 0x10,
                                                                     0x20, 0x40, 0x80, 0x1B, 0x36};
    AesRoundKeys keys;
    for (int i = 0; i < 4; ++i) {
        keys.words[i] = LoadWord(key.data() + 4 * i);
    }
    for (int i = 4; i < 44; ++i) {
        std::uint32_t temp = keys.words[i - 1];
        if (i % 4 == 0) {
            // RotWord moves the top byte (row 0) to the bottom.
            temp = SubWord((temp << 8) | (temp >> 24)) ^
                   (std::uint32_t{kRoundConstants[i / 4 - 1]} << 24);
        }
        keys.words[i] = keys.words[i - 4] ^ temp;
    }
    return keys;
}

}  // namespace

AesRoundKeys AesPrepareEncryptKey(std::span<const std::uint8_t, 16> key) {
    return ExpandKey(key);
}

AesRoundKeys AesPrepareEncryptKey() {
    return AesPrepareEncryptKey(HeaderKey);
}

AesRoundKeys AesPrepareDecryptKey(std::span<const std::uint8_t, 16> key) {
    AesRoundKeys keys = ExpandKey(key);
    for (int i = 4; i < 40; ++i) {
        keys.words[i] = InvMixColumnsWord(keys.words[i]);
    }
    return keys;
}

AesRoundKeys AesPrepareDecryptKey() {
    return AesPrepareDecryptKey(HeaderKey);
}

void AesDecryptBlock(const AesRoundKeys& keys, std::span<const std::uint8_t, 16> in,
                     std::span<std::uint8_t, 16> out) {
    State state = LoadState(in);
    AddRoundKey(state, keys, 10);
    for (int round = 9; round >= 1; --round) {
        SubBytes(state, kSBoxes.inverse);
        ShiftRows(state, true);
        MixColumns(state, true);
        AddRoundKey(state, keys, round);
    }
    SubBytes(state, kSBoxes.inverse);
    ShiftRows(state, true);
    AddRoundKey(state, keys, 0);
    StoreState(state, out);
}

void AesEncryptBlock(const AesRoundKeys& keys, std::span<const std::uint8_t, 16> in,
                     std::span<std::uint8_t, 16> out) {
    State state = LoadState(in);
    AddRoundKey(state, keys, 0);
    for (int round = 1; round <= 9; ++round) {
        SubBytes(state, kSBoxes.forward);
        ShiftRows(state, false);
        MixColumns(state, false);
        AddRoundKey(state, keys, round);
    }
    SubBytes(state, kSBoxes.forward);
    ShiftRows(state, false);
    AddRoundKey(state, keys, 10);
    StoreState(state, out);
}

void AesDecryptHeader(const AesRoundKeys& keys, std::span<std::uint8_t, kAesHeaderLength> header) {
    for (std::size_t offset = 0; offset < kAesHeaderLength; offset += 16) {
        const std::span<std::uint8_t, 16> block(header.data() + offset, 16);
        AesDecryptBlock(keys, block, block);
    }
}

void AesEncryptHeader(const AesRoundKeys& keys, std::span<std::uint8_t, kAesHeaderLength> header) {
    for (std::size_t offset = 0; offset < kAesHeaderLength; offset += 16) {
        const std::span<std::uint8_t, 16> block(header.data() + offset, 16);
        AesEncryptBlock(keys, block, block);
    }
}

}  // namespace velmorin
