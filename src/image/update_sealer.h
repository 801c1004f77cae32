// SPDX-License-Identifier: MIT
// Sealing of update files, the maker's side of the format: the simulator,
// tests and demonstrations build their update files with it.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "image/update_header.h"
#include "image/update_image.h"

namespace velmorin {

class SealError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The plain 512-byte header for `fields` (tag, texts, flags, model code and
// payload length as given). Throws SealError when a text does not fit its
// field with its NUL.
std::array<std::uint8_t, kUpdateHeaderSize> BuildPlainHeader(const UpdateHeader& fields);

// Seals plain file bytes (header and payload, as given) in `form`. The
// whole-file form enciphers every 8-byte block; a last block shorter than 8
// bytes is enciphered as if zeros completed it and then cut to its length,
// so those last bytes do not decipher back to themselves (the format has no
// room for them). Throws SealError for a file over 524 288 bytes, or one
// shorter than the header in the header form.
std::vector<std::uint8_t> SealPlainFile(std::span<const std::uint8_t> plainFile, SealedForm form);

// A sealed update file: the header of `fields` with the tag set and the
// payload length taken from `payload`, followed by the payload, sealed as
// SealPlainFile does. Throws SealError when the payload is over 523 776 bytes
// or a text does not fit.
std::vector<std::uint8_t> SealUpdateFile(UpdateHeader fields, std::span<const std::uint8_t> payload,
                                         SealedForm form);

}  // namespace velmorin
