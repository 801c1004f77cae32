// SPDX-License-Identifier: MIT
// Fuzzes the update-file parsers: the header check and the whole-file load
// in both modes, on arbitrary bytes, and checks that an accepted file never
// claims more payload than the image holds.
#include <cstdint>
#include <span>

#include "image/update_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);

    velmorin::UpdateImage image;
    if (velmorin::CheckUpdateHeader(file, file.size(), image).Accepted()) {
        image.Header();
    }
    velmorin::CheckUpdateHeader(file, velmorin::kMaxUpdateFileSize + 1, image);

    for (const bool allowHeaderForm : {false, true}) {
        const velmorin::ImageCheck check = velmorin::LoadUpdateBytes(file, allowHeaderForm, image);
        if (check.Accepted()) {
            const velmorin::UpdateHeader header = image.Header();
            // The payload the upgrades would send lies within the image.
            if (velmorin::kUpdateHeaderSize + header.payloadLength > image.size()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
