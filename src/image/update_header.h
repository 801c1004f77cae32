// SPDX-License-Identifier: MIT
// The 512-byte header of an update file: its layout (defined here once for
// the loader, the sealer and the upgrades), the recognition rule, and the
// parsed fields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace velmorin {

inline constexpr std::size_t kUpdateHeaderSize = 512;
// The largest update file, header included; also the size of the image store.
inline constexpr std::size_t kMaxUpdateFileSize = 0x80000;
inline constexpr std::size_t kMaxPayloadLength = kMaxUpdateFileSize - kUpdateHeaderSize;

// Offsets and widths within the plain header. Texts are NUL-terminated
// within their field.
namespace header_layout {
inline constexpr std::size_t kTagOffset = 0;
inline constexpr std::size_t kTagWidth = 15;
inline constexpr std::size_t kVersionOffset = 16;
inline constexpr std::size_t kVersionWidth = 8;
inline constexpr std::size_t kTypeOffset = 24;
inline constexpr std::size_t kTypeWidth = 32;
inline constexpr std::size_t kMemoOffset = 56;
inline constexpr std::size_t kMemoWidth = 434;
inline constexpr std::size_t kPlainPayloadOffset = 490;
inline constexpr std::size_t kModelCodeOffset = 495;
inline constexpr std::size_t kPayloadLengthOffset = 496;
// The HID bootloader takes the version from these three characters of
// "V1.00": the major digit and the two minor digits.
inline constexpr std::array<std::size_t, 3> kVersionDigitOffsets = {17, 19, 20};
}  // namespace header_layout

// "Varno Kestrion" and its NUL: compared as 15 bytes.
inline constexpr std::array<std::uint8_t, header_layout::kTagWidth> kUpdateTag = {
    'V', 'a', 'r', 'n', 'o', ' ', 'K', 'e', 's', 't', 'r', 'i', 'o', 'n', 0};

using HeaderBytes = std::span<const std::uint8_t, kUpdateHeaderSize>;

struct UpdateHeader {
    std::array<std::uint8_t, header_layout::kTagWidth> tag{};
    // Texts as stored (the single-byte code page of the maker's tools), read
    // up to the first NUL and never past the end of their field.
    std::string version;
    std::string type;
    std::string memo;
    std::uint8_t plainPayload = 0;
    std::uint8_t modelCode = 0;
    std::uint32_t payloadLength = 0;

    static UpdateHeader Parse(HeaderBytes bytes);
};

// A plain header is recognised when its first 15 bytes are the tag and its
// payload length is the file length minus 512 (so no file shorter than the
// header is ever recognised).
bool IsRecognisedHeader(HeaderBytes bytes, std::uint64_t fileLength);

}  // namespace velmorin
