// SPDX-License-Identifier: MIT
// Fuzzes the update-file parsers: the header check and the whole-file load
// in both modes, on arbitrary bytes, and checks that an accepted file never
// claims more payload than the image store holds.
#include <cstdint>
#include <span>

#include "image/update_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);

    if (velmorin::CheckUpdateHeader(file, file.size()).Accepted()) {
        velmorin::StoredHeader();
    }
    velmorin::CheckUpdateHeader(file, velmorin::kMaxUpdateFileSize + 1);

    for (const bool allowHeaderForm : {false, true}) {
        const velmorin::ImageCheck check = velmorin::LoadUpdateBytes(file, allowHeaderForm);
        if (check.Accepted()) {
            const velmorin::UpdateHeader header = velmorin::StoredHeader();
            // The payload the upgrades would send lies within the store.
            if (velmorin::kUpdateHeaderSize + header.payloadLength > velmorin::UpdateImage.size()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
