// SPDX-License-Identifier: MIT
// Builds sealed update files in either form.
#include "image/update_sealer.h"

#include <algorithm>
#include <string>

#include "image/aes.h"
#include "image/triple_des.h"

namespace velmorin {
namespace {

void PutText(std::span<std::uint8_t, kUpdateHeaderSize> header, std::size_t offset,
             std::size_t width, const std::string& text, const char* name) {
    if (text.size() >= width) {
        throw SealError(std::string(name) + " is " + std::to_string(text.size()) +
                        " bytes; at most " + std::to_string(width - 1) + " fit");
    }
    std::copy(text.begin(), text.end(), header.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::array<std::uint8_t, kUpdateHeaderSize> BuildPlainHeader(const UpdateHeader& fields) {
    namespace layout = header_layout;
    std::array<std::uint8_t, kUpdateHeaderSize> header{};
    std::copy(fields.tag.begin(), fields.tag.end(), header.begin() + layout::kTagOffset);
    PutText(header, layout::kVersionOffset, layout::kVersionWidth, fields.version, "version");
    PutText(header, layout::kTypeOffset, layout::kTypeWidth, fields.type, "type");
    PutText(header, layout::kMemoOffset, layout::kMemoWidth, fields.memo, "memo");
    header[layout::kPlainPayloadOffset] = fields.plainPayload;
    header[layout::kModelCodeOffset] = fields.modelCode;
    for (std::size_t i = 0; i < 4; ++i) {
        header[layout::kPayloadLengthOffset + i] =
            static_cast<std::uint8_t>(fields.payloadLength >> (8 * i));
    }
    return header;
}

std::vector<std::uint8_t> SealPlainFile(std::span<const std::uint8_t> plainFile, SealedForm form) {
    if (plainFile.size() > kMaxUpdateFileSize) {
        throw SealError("the file would be " + std::to_string(plainFile.size()) +
                        " bytes; an update file holds at most " +
                        std::to_string(kMaxUpdateFileSize));
    }
    const std::size_t length = plainFile.size();
    std::vector<std::uint8_t> file((length + 7) / 8 * 8, 0);
    std::copy(plainFile.begin(), plainFile.end(), file.begin());
    if (form == SealedForm::HeaderOnly) {
        if (length < kUpdateHeaderSize) {
            throw SealError("the header form needs at least the 512 header bytes");
        }
        AesEncryptHeader(AesPrepareEncryptKey(), std::span<std::uint8_t, kUpdateHeaderSize>(
                                                     file.data(), kUpdateHeaderSize));
    } else if (length > 0) {
        TripleDesEncrypt(file.data(), static_cast<std::int32_t>(length), file.data());
    }
    file.resize(length);
    return file;
}

std::vector<std::uint8_t> SealUpdateFile(UpdateHeader fields, std::span<const std::uint8_t> payload,
                                         SealedForm form) {
    if (payload.size() > kMaxPayloadLength) {
        throw SealError("the payload is " + std::to_string(payload.size()) + " bytes; at most " +
                        std::to_string(kMaxPayloadLength) + " fit in an update file");
    }
    fields.tag = kUpdateTag;
    fields.payloadLength = static_cast<std::uint32_t>(payload.size());
    const auto header = BuildPlainHeader(fields);
    std::vector<std::uint8_t> plainFile(header.begin(), header.end());
    plainFile.insert(plainFile.end(), payload.begin(), payload.end());
    return SealPlainFile(plainFile, form);
}

}  // namespace velmorin
