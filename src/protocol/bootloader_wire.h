// SPDX-License-Identifier: MIT
// The bootloader conversations' wire layouts, defined once for the upgrade
// procedures and the charger simulator: the serial wake, length frame and
// masked 16-byte frames; the HID start packet, challenge and masked 64-byte
// blocks.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "device/channel_framing.h"

namespace velmorin {

// Both conversations begin with this command: the firmware compares the
// model byte with its own and hands over to its bootloader.
inline constexpr std::uint8_t kEnterCommandByte0 = 0xFF;
inline constexpr std::uint8_t kEnterCommandByte1 = 0x45;  // 'E'
inline CommandBytes EnterBootloaderCommand(std::uint8_t modelCode) {
    return {kEnterCommandByte0, kEnterCommandByte1, modelCode};
}

inline constexpr std::uint8_t kAnswerAccepted = '&';
inline constexpr std::uint8_t kAnswerRefused = '5';

// Serial.
inline constexpr std::uint32_t kFirmwareBaudRate = 9600;
inline constexpr std::uint32_t kBootloaderBaudRate = 128000;
inline constexpr std::array<std::uint8_t, 3> kWakeTail = {'&', 'u', 0x07};
inline constexpr std::size_t kSerialBlockSize = 16;

// The payload length, most significant byte first.
std::array<std::uint8_t, 4> LengthFrame(std::uint32_t payloadLength);

// The wire form of one serial block (up to 16 bytes): each byte XORed with
// the mask byte at the same position; the mask starts afresh with every
// block. Its own inverse.
void MaskSerialBlock(std::span<const std::uint8_t> block, std::uint8_t* out);

// HID.
inline constexpr std::size_t kHidBlockSize = 64;
inline constexpr std::size_t kHidAnswerSize = 64;
inline constexpr std::size_t kStartPacketSize = 36;
inline constexpr std::uint32_t kStartPacketConstant1 = 1000;
inline constexpr std::uint32_t kStartPacketConstant2 = 101217;

struct StartPacket {
    std::uint32_t payloadLength = 0;
    std::uint32_t blockSize = kHidBlockSize;
    std::uint32_t modelField = 1;  // the sign-extended model code for a plain payload, else 1
    std::uint32_t version = 0;     // 1000·d17 + 100·d19 + d20 of the version text
    std::uint32_t nonce = 0;
};

std::array<std::uint8_t, kStartPacketSize> BuildStartPacket(const StartPacket& packet);
// False when the bytes do not begin with "$START$" and its NUL.
bool ParseStartPacket(std::span<const std::uint8_t> bytes, StartPacket& packet);

// The version number the start packet carries, from the header's version
// characters at offsets 17, 19 and 20 (each a signed byte minus '0').
std::uint32_t StartPacketVersion(std::span<const std::uint8_t> header);

// The model field of the start packet.
std::uint32_t StartPacketModelField(std::uint8_t modelCode, bool plainPayload);

// Byte i of a HID block: image byte XOR PayloadMask[i % 16] XOR byte i % 4
// of the key (least significant first). Its own inverse.
void MaskHidBlock(std::span<const std::uint8_t, kHidBlockSize> block, std::uint32_t key,
                  std::uint8_t* out);

std::uint32_t LoadLittleEndian32(const std::uint8_t* bytes);
void StoreLittleEndian32(std::uint32_t value, std::uint8_t* bytes);

}  // namespace velmorin
