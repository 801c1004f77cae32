// SPDX-License-Identifier: MIT
// Two-key Triple DES over the DES variant, block by block with no chaining:
// the cipher of the whole-file form of update files.
#pragma once

#include <cstdint>

namespace velmorin {

// Deciphers ceil(length / 8) blocks of 8 bytes from `input` into `output`
// under the keys of ImageKeyText: each block is D1(E2(D1(block))). The output
// receives a whole number of blocks, up to 7 bytes more than `length`; the
// caller provides that room, and the input is read as far as the output is
// written (the caller pads a short last block, normally with zeros). `input`
// and `output` may be the same buffer.
// Returns false and writes nothing when a buffer is missing or `length` is
// not positive.
bool TripleDesDecrypt(const std::uint8_t* input, std::int32_t length, std::uint8_t* output);

// The inverse, E1(D2(E1(block))), with the same conventions. Used to seal
// update files.
bool TripleDesEncrypt(const std::uint8_t* input, std::int32_t length, std::uint8_t* output);

}  // namespace velmorin
