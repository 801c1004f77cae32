// SPDX-License-Identifier: MIT
// The update image: the bytes of one update file as the header check or the
// whole-file load left them, the header check that runs on every change of
// the chosen path, and the whole-file load with which every upgrade begins.
// Each owner (a window, a command, an upgrade) keeps its own image.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "image/file_info_display.h"
#include "image/update_header.h"

namespace velmorin {

// Bytes 0-511: the plain header of the file last examined or loaded. After a
// whole-file load, bytes 512 on: the payload (deciphered for the whole-file
// form, as stored for the header form), and zeros after it. Zero at first.
class UpdateImage {
public:
    UpdateImage() : m_bytes(kMaxUpdateFileSize, 0) {}

    std::uint8_t* data() { return m_bytes.data(); }
    const std::uint8_t* data() const { return m_bytes.data(); }
    std::size_t size() const { return m_bytes.size(); }
    auto begin() { return m_bytes.begin(); }
    auto end() { return m_bytes.end(); }
    auto begin() const { return m_bytes.begin(); }
    auto end() const { return m_bytes.end(); }

    std::span<std::uint8_t, kUpdateHeaderSize> HeaderBytes() {
        return std::span<std::uint8_t, kUpdateHeaderSize>(m_bytes.data(), kUpdateHeaderSize);
    }
    std::span<const std::uint8_t, kUpdateHeaderSize> HeaderBytes() const {
        return std::span<const std::uint8_t, kUpdateHeaderSize>(m_bytes.data(), kUpdateHeaderSize);
    }
    // The header fields of bytes 0-511.
    UpdateHeader Header() const { return UpdateHeader::Parse(HeaderBytes()); }

private:
    std::vector<std::uint8_t> m_bytes;
};

enum class ImageLoadResult { Loaded, CannotOpen, TooBig, Empty, FormatError };

// WholeFile: every byte under the Triple DES variant. HeaderOnly: the header
// under AES-128, the payload as the charger receives it.
enum class SealedForm { WholeFile, HeaderOnly };

struct ImageCheck {
    ImageLoadResult result = ImageLoadResult::FormatError;
    SealedForm form = SealedForm::WholeFile;  // meaningful when Loaded
    std::uint64_t fileLength = 0;
    std::string openError;  // with CannotOpen: "cannot open PATH: reason"

    bool Accepted() const { return result == ImageLoadResult::Loaded; }
};

// The bytes of an update file as one read took them. `read` says how the
// read went: Loaded when the bytes are here (whatever they hold; the load
// judges them), CannotOpen with the reason, TooBig with the length (nothing
// is read of a file over the limit).
struct UpdateFileBytes {
    ImageCheck read;
    std::vector<std::uint8_t> bytes;
};

// Reads the whole file at `path`, up to one byte past the limit, so that a
// file that grew since it was measured is still caught as too big.
UpdateFileBytes ReadUpdateFileBytes(const std::filesystem::path& path);

// The header check on bytes already read: `firstBytes` holds up to the first
// 512 bytes of a file of `fileLength` bytes (missing bytes count as zero).
// Writes the image's bytes 0-511. Result: Loaded, TooBig or FormatError.
ImageCheck CheckUpdateHeader(std::span<const std::uint8_t> firstBytes, std::uint64_t fileLength,
                             UpdateImage& image);

// The whole-file load on a file already read. Writes the image. Result:
// Loaded, TooBig, Empty or FormatError.
ImageCheck LoadUpdateBytes(std::span<const std::uint8_t> file, bool allowHeaderForm,
                           UpdateImage& image);

// The header check of the file at `path`, with its display steps: accepted
// files are shown; a file that cannot be opened resets the information
// without a reason; a file too big or not recognised resets it with "The file
// is big!" or "File format error!". Only the first 512 bytes are read.
ImageCheck CheckUpdateFile(const std::filesystem::path& path, UpdateImage& image,
                           FileInfoDisplay& display);

// Loads the whole file at `path` into the image, trying the whole-file form
// and then, when allowed, the header form. A file that cannot be opened
// resets the information and shows "Error open file"; too big or not
// recognised reset it with their reason; an empty file changes nothing. A
// successful load leaves the display alone (the header check has shown it).
ImageCheck LoadUpdateImage(const std::filesystem::path& path, bool allowHeaderForm,
                           UpdateImage& image, FileInfoDisplay& display);

// The same load on bytes read before (a run hands on the bytes it pinned),
// with the same display steps.
ImageCheck LoadUpdateImage(const UpdateFileBytes& file, bool allowHeaderForm, UpdateImage& image,
                           FileInfoDisplay& display);

}  // namespace velmorin
