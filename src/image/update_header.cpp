// SPDX-License-Identifier: MIT
// Parsing and recognition of the plain update header.
#include "image/update_header.h"

#include <algorithm>

namespace velmorin {
namespace {

std::string FieldText(HeaderBytes bytes, std::size_t offset, std::size_t width) {
    const auto* begin = bytes.data() + offset;
    const auto* end = std::find(begin, begin + width, std::uint8_t{0});
    return {begin, end};
}

std::uint32_t LittleEndian32(HeaderBytes bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} | (std::uint32_t{bytes[offset + 1]} << 8) |
           (std::uint32_t{bytes[offset + 2]} << 16) | (std::uint32_t{bytes[offset + 3]} << 24);
}

}  // namespace

UpdateHeader UpdateHeader::Parse(HeaderBytes bytes) {
    namespace layout = header_layout;
    UpdateHeader header;
    std::copy_n(bytes.begin() + layout::kTagOffset, layout::kTagWidth, header.tag.begin());
    header.version = FieldText(bytes, layout::kVersionOffset, layout::kVersionWidth);
    header.type = FieldText(bytes, layout::kTypeOffset, layout::kTypeWidth);
    header.memo = FieldText(bytes, layout::kMemoOffset, layout::kMemoWidth);
    header.plainPayload = bytes[layout::kPlainPayloadOffset];
    header.modelCode = bytes[layout::kModelCodeOffset];
    header.payloadLength = LittleEndian32(bytes, layout::kPayloadLengthOffset);
    return header;
}

bool IsRecognisedHeader(HeaderBytes bytes, std::uint64_t fileLength) {
    if (!std::equal(kUpdateTag.begin(), kUpdateTag.end(),
                    bytes.begin() + header_layout::kTagOffset)) {
        return false;
    }
    return fileLength >= kUpdateHeaderSize &&
           LittleEndian32(bytes, header_layout::kPayloadLengthOffset) ==
               fileLength - kUpdateHeaderSize;
}

}  // namespace velmorin
