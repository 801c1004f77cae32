// SPDX-License-Identifier: MIT
// Bootloader wire layouts.
#include "protocol/bootloader_wire.h"

#include <algorithm>
#include <cstring>

#include "image/cipher_secrets.h"
#include "image/update_header.h"

namespace velmorin {
namespace {

constexpr std::array<std::uint8_t, 8> kStartTag = {'$', 'S', 'T', 'A', 'R', 'T', '$', 0};

}  // namespace

std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void StoreLittleEndian32(std::uint32_t value, std::uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::array<std::uint8_t, 4> LengthFrame(std::uint32_t payloadLength) {
    return {static_cast<std::uint8_t>(payloadLength >> 24),
            static_cast<std::uint8_t>(payloadLength >> 16),
            static_cast<std::uint8_t>(payloadLength >> 8),
            static_cast<std::uint8_t>(payloadLength)};
}

void MaskSerialBlock(std::span<const std::uint8_t> block, std::uint8_t* out) {
    for (std::size_t j = 0; j < block.size() && j < kSerialBlockSize; ++j) {
        out[j] = block[j] ^ PayloadMask[j];
    }
}

std::array<std::uint8_t, kStartPacketSize> BuildStartPacket(const StartPacket& packet) {
    std::array<std::uint8_t, kStartPacketSize> bytes{};
    std::copy(kStartTag.begin(), kStartTag.end(), bytes.begin());
    StoreLittleEndian32(packet.payloadLength, &bytes[8]);
    StoreLittleEndian32(packet.blockSize, &bytes[12]);
    StoreLittleEndian32(packet.modelField, &bytes[16]);
    StoreLittleEndian32(kStartPacketConstant1, &bytes[20]);
    StoreLittleEndian32(packet.version, &bytes[24]);
    StoreLittleEndian32(kStartPacketConstant2, &bytes[28]);
    StoreLittleEndian32(packet.nonce, &bytes[32]);
    return bytes;
}

bool ParseStartPacket(std::span<const std::uint8_t> bytes, StartPacket& packet) {
    if (bytes.size() < kStartPacketSize ||
        !std::equal(kStartTag.begin(), kStartTag.end(), bytes.begin())) {
        return false;
    }
    packet.payloadLength = LoadLittleEndian32(&bytes[8]);
    packet.blockSize = LoadLittleEndian32(&bytes[12]);
    packet.modelField = LoadLittleEndian32(&bytes[16]);
    packet.version = LoadLittleEndian32(&bytes[24]);
    packet.nonce = LoadLittleEndian32(&bytes[32]);
    return LoadLittleEndian32(&bytes[20]) == kStartPacketConstant1 &&
           LoadLittleEndian32(&bytes[28]) == kStartPacketConstant2;
}

std::uint32_t StartPacketVersion(std::span<const std::uint8_t> header) {
    const auto digit = [&](std::size_t offset) {
        return static_cast<std::int32_t>(static_cast<std::int8_t>(header[offset])) - '0';
    };
    const auto& at = header_layout::kVersionDigitOffsets;
    return static_cast<std::uint32_t>(1000 * digit(at[0]) + 100 * digit(at[1]) + digit(at[2]));
}

std::uint32_t StartPacketModelField(std::uint8_t modelCode, bool plainPayload) {
    return plainPayload ? static_cast<std::uint32_t>(
                              static_cast<std::int32_t>(static_cast<std::int8_t>(modelCode)))
                        : 1u;
}

void MaskHidBlock(std::span<const std::uint8_t, kHidBlockSize> block, std::uint32_t key,
                  std::uint8_t* out) {
    for (std::size_t i = 0; i < kHidBlockSize; ++i) {
        out[i] = static_cast<std::uint8_t>(block[i] ^ PayloadMask[i % 16] ^ (key >> (8 * (i % 4))));
    }
}

}  // namespace velmorin
