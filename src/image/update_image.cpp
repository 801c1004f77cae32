// SPDX-License-Identifier: MIT
// The update image, the header check and the whole-file load.
#include "image/update_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "image/aes.h"
#include "image/triple_des.h"
#include "image/update_file_reader.h"

namespace velmorin {

namespace {

ImageCheck Outcome(ImageLoadResult result, std::uint64_t fileLength,
                   SealedForm form = SealedForm::WholeFile) {
    ImageCheck check;
    check.result = result;
    check.fileLength = fileLength;
    check.form = form;
    return check;
}

ImageCheck CannotOpen(const std::string& error) {
    ImageCheck check = Outcome(ImageLoadResult::CannotOpen, 0);
    check.openError = error;
    return check;
}

}  // namespace

ImageCheck CheckUpdateHeader(std::span<const std::uint8_t> firstBytes, std::uint64_t fileLength,
                             UpdateImage& image) {
    if (fileLength > kMaxUpdateFileSize) {
        return Outcome(ImageLoadResult::TooBig, fileLength);
    }
    std::array<std::uint8_t, kUpdateHeaderSize> buffer{};
    std::copy_n(firstBytes.begin(), std::min(firstBytes.size(), buffer.size()), buffer.begin());

    const auto store = image.HeaderBytes();
    std::fill(store.begin(), store.end(), std::uint8_t{0});
    TripleDesDecrypt(buffer.data(), kUpdateHeaderSize, store.data());
    if (IsRecognisedHeader(store, fileLength)) {
        return Outcome(ImageLoadResult::Loaded, fileLength, SealedForm::WholeFile);
    }
    AesDecryptHeader(AesPrepareDecryptKey(), buffer);
    if (IsRecognisedHeader(buffer, fileLength)) {
        std::copy(buffer.begin(), buffer.end(), store.begin());
        return Outcome(ImageLoadResult::Loaded, fileLength, SealedForm::HeaderOnly);
    }
    return Outcome(ImageLoadResult::FormatError, fileLength);
}

ImageCheck LoadUpdateBytes(std::span<const std::uint8_t> file, bool allowHeaderForm,
                           UpdateImage& image) {
    const std::uint64_t length = file.size();
    if (length > kMaxUpdateFileSize) {
        return Outcome(ImageLoadResult::TooBig, length);
    }
    if (length == 0) {
        return Outcome(ImageLoadResult::Empty, 0);
    }
    // The cipher works on whole blocks: a short last block is read as if
    // zero bytes completed it.
    const std::size_t blockLength = (length + 7) / 8 * 8;
    std::vector<std::uint8_t> buffer(blockLength, 0);
    std::copy(file.begin(), file.end(), buffer.begin());

    std::fill_n(image.begin(), length, std::uint8_t{0});
    TripleDesDecrypt(buffer.data(), static_cast<std::int32_t>(length), image.data());

    ImageCheck check = Outcome(ImageLoadResult::FormatError, length);
    if (IsRecognisedHeader(image.HeaderBytes(), length)) {
        check = Outcome(ImageLoadResult::Loaded, length, SealedForm::WholeFile);
    } else if (allowHeaderForm && length >= kUpdateHeaderSize) {
        const std::span<std::uint8_t, kUpdateHeaderSize> header(buffer.data(), kUpdateHeaderSize);
        AesDecryptHeader(AesPrepareDecryptKey(), header);
        if (IsRecognisedHeader(header, length)) {
            std::copy_n(buffer.begin(), length, image.begin());
            check = Outcome(ImageLoadResult::Loaded, length, SealedForm::HeaderOnly);
        }
    }
    if (check.Accepted()) {
        // Nothing past the payload may reach a charger: neither the deciphered
        // padding of a short last block nor bytes of an earlier, longer file.
        std::fill(image.begin() + static_cast<std::ptrdiff_t>(length), image.end(),
                  std::uint8_t{0});
    }
    return check;
}

ImageCheck CheckUpdateFile(const std::filesystem::path& path, UpdateImage& image,
                           FileInfoDisplay& display) {
    UpdateFileReader reader(path);
    ImageCheck check;
    if (!reader.IsOpen()) {
        check = CannotOpen(reader.Error());
    } else if (reader.Length() > kMaxUpdateFileSize) {
        check = Outcome(ImageLoadResult::TooBig, reader.Length());
    } else {
        std::array<std::uint8_t, kUpdateHeaderSize> firstBytes{};
        const std::int64_t count = reader.Read(firstBytes);
        check = count < 0 ? CannotOpen(reader.Error())
                          : CheckUpdateHeader(firstBytes, reader.Length(), image);
    }

    switch (check.result) {
    case ImageLoadResult::Loaded:
        FileInfoShow(display, image.Header());
        break;
    case ImageLoadResult::CannotOpen:
        FileInfoReset(display);
        break;
    case ImageLoadResult::TooBig:
        FileInfoReset(display, kTextFileBig);
        break;
    case ImageLoadResult::Empty:
    case ImageLoadResult::FormatError:
        FileInfoReset(display, kTextFileFormatError);
        break;
    }
    return check;
}

UpdateFileBytes ReadUpdateFileBytes(const std::filesystem::path& path) {
    UpdateFileBytes file;
    UpdateFileReader reader(path);
    if (!reader.IsOpen()) {
        file.read = CannotOpen(reader.Error());
    } else if (reader.Length() > kMaxUpdateFileSize) {
        file.read = Outcome(ImageLoadResult::TooBig, reader.Length());
    } else {
        // One byte more than the limit, so that a file that grew since it was
        // measured is still caught as too big.
        file.bytes.resize(kMaxUpdateFileSize + 1);
        const std::int64_t count = reader.Read(file.bytes);
        if (count < 0) {
            file.bytes.clear();
            file.read = CannotOpen(reader.Error());
        } else {
            file.bytes.resize(static_cast<std::size_t>(count));
            file.bytes.shrink_to_fit();
            file.read = Outcome(ImageLoadResult::Loaded, file.bytes.size());
        }
    }
    return file;
}

ImageCheck LoadUpdateImage(const std::filesystem::path& path, bool allowHeaderForm,
                           UpdateImage& image, FileInfoDisplay& display) {
    return LoadUpdateImage(ReadUpdateFileBytes(path), allowHeaderForm, image, display);
}

ImageCheck LoadUpdateImage(const UpdateFileBytes& file, bool allowHeaderForm, UpdateImage& image,
                           FileInfoDisplay& display) {
    const ImageCheck check =
        file.read.Accepted() ? LoadUpdateBytes(file.bytes, allowHeaderForm, image) : file.read;

    switch (check.result) {
    case ImageLoadResult::Loaded:
    case ImageLoadResult::Empty:
        break;
    case ImageLoadResult::CannotOpen:
        FileInfoReset(display);
        display.ShowMessageBox(kTextErrorOpenFile, kCaptionError, MessageIcon::Error);
        break;
    case ImageLoadResult::TooBig:
        FileInfoReset(display, kTextFileBig);
        break;
    case ImageLoadResult::FormatError:
        FileInfoReset(display, kTextFileFormatError);
        break;
    }
    return check;
}

}  // namespace velmorin
