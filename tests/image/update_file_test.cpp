// SPDX-License-Identifier: MIT
// Update files on disk through the header check and the whole-file load:
// what is accepted, what is rejected with which text, what reaches the image,
// and what the file information shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <vector>

#include "image/file_path.h"
#include "image/triple_des.h"
#include "image/update_image.h"
#include "image/update_sealer.h"
#include "support/test_files.h"

namespace velmorin {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records what the file information and message boxes would show.
class RecordingDisplay : public FileInfoDisplay {
public:
    void ResetFileInfo(std::string_view reason) override {
        events.push_back("reset:" + std::string(reason));
        accepted = false;
    }
    void ShowFileInfo(const FileInfoText& shown) override {
        events.push_back("show");
        info = shown;
        accepted = true;
    }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        events.push_back("box:" + std::string(text) + "/" + std::string(caption) +
                         (icon == MessageIcon::Error ? "/error" : "/other"));
    }

    std::vector<std::string> events;
    FileInfoText info;
    bool accepted = false;  // as the last step left the file
};

Bytes Payload(std::size_t length, std::uint8_t seed = 1) {
    Bytes payload(length);
    std::iota(payload.begin(), payload.end(), seed);
    return payload;
}

UpdateHeader Fields(std::uint8_t modelCode = 0x2A) {
    UpdateHeader fields;
    fields.version = "V1.07";
    fields.type = "1010B";
    fields.memo = "Charge curve update";
    fields.modelCode = modelCode;
    return fields;
}

// A plain file with a tampered header, sealed in `form`.
Bytes Tampered(SealedForm form, std::size_t payloadLength, std::int64_t lengthDelta,
               std::uint8_t tagByte14 = 0) {
    UpdateHeader fields = Fields();
    fields.tag = kUpdateTag;
    fields.tag[14] = tagByte14;
    fields.payloadLength = static_cast<std::uint32_t>(payloadLength + lengthDelta);
    const auto header = BuildPlainHeader(fields);
    Bytes plain(header.begin(), header.end());
    const Bytes payload = Payload(payloadLength);
    plain.insert(plain.end(), payload.begin(), payload.end());
    return SealPlainFile(plain, form);
}

class UpdateFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("velmorin-image-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path Write(const std::string& name, const Bytes& bytes) {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path m_dir;
};

struct FileRow {
    const char* name;
    Bytes file;
    // Header check
    bool checkAccepted;
    const char* checkEvent;
    // Whole-file load with the header form disallowed, then allowed
    ImageLoadResult serialLoad;
    ImageLoadResult hidLoad;
};

TEST_F(UpdateFileTest, RecognitionOfBothFormsAndTheirRejections) {
    using R = ImageLoadResult;
    const std::string formatError = "reset:File format error!";
    const std::string big = "reset:The file is big!";
    const FileRow rows[] = {
        {"whole-file form", SealUpdateFile(Fields(), Payload(4000), SealedForm::WholeFile), true,
         "show", R::Loaded, R::Loaded},
        {"header form (serial refuses it)",
         SealUpdateFile(Fields(), Payload(4000), SealedForm::HeaderOnly), true, "show",
         R::FormatError, R::Loaded},
        {"no payload", SealUpdateFile(Fields(), {}, SealedForm::WholeFile), true, "show", R::Loaded,
         R::Loaded},
        {"largest file, 524 288 bytes",
         SealUpdateFile(Fields(), Payload(kMaxPayloadLength), SealedForm::WholeFile), true, "show",
         R::Loaded, R::Loaded},
        {"largest header-form file",
         SealUpdateFile(Fields(), Payload(kMaxPayloadLength), SealedForm::HeaderOnly), true, "show",
         R::FormatError, R::Loaded},
        {"one byte too many", Bytes(kMaxUpdateFileSize + 1, 0), false, big.c_str(), R::TooBig,
         R::TooBig},
        {"length one short", Tampered(SealedForm::WholeFile, 4000, -1), false, formatError.c_str(),
         R::FormatError, R::FormatError},
        {"length one over", Tampered(SealedForm::HeaderOnly, 4000, +1), false, formatError.c_str(),
         R::FormatError, R::FormatError},
        {"tag ends in a byte other than NUL", Tampered(SealedForm::WholeFile, 64, 0, '!'), false,
         formatError.c_str(), R::FormatError, R::FormatError},
        {"header form, tag ends in a byte other than NUL",
         Tampered(SealedForm::HeaderOnly, 64, 0, ' '), false, formatError.c_str(), R::FormatError,
         R::FormatError},
        {"plain, unsealed file",
         [] {
             const auto header = BuildPlainHeader(Fields());
             return Bytes(header.begin(), header.end());
         }(),
         false, formatError.c_str(), R::FormatError, R::FormatError},
        {"empty file", {}, false, formatError.c_str(), R::Empty, R::Empty},
        {"shorter than a header", Payload(100), false, formatError.c_str(), R::FormatError,
         R::FormatError},
    };
    for (const FileRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto path = Write("update.bin", row.file);

        RecordingDisplay check;
        UpdateImage image;
        EXPECT_EQ(CheckUpdateFile(path, image, check).Accepted(), row.checkAccepted);
        EXPECT_EQ(check.events, std::vector<std::string>{row.checkEvent});
        EXPECT_EQ(check.accepted, row.checkAccepted);

        for (const bool allowHeaderForm : {false, true}) {
            RecordingDisplay load;
            const ImageCheck result = LoadUpdateImage(path, allowHeaderForm, image, load);
            const R expected = allowHeaderForm ? row.hidLoad : row.serialLoad;
            EXPECT_EQ(result.result, expected) << "header form allowed: " << allowHeaderForm;
            // A successful load and an empty file leave the display alone; a
            // rejection resets it with the same reason as the check.
            if (expected == R::Loaded || expected == R::Empty) {
                EXPECT_TRUE(load.events.empty());
            } else {
                EXPECT_EQ(load.events,
                          std::vector<std::string>{expected == R::TooBig ? big : formatError});
            }
        }
    }
}

TEST_F(UpdateFileTest, LoadedPayloadIsExactAndNothingFollowsIt) {
    // A long file first into the same image, so that a shorter one must not
    // leave its bytes behind.
    RecordingDisplay display;
    UpdateImage image;
    const Bytes longPayload = Payload(20000, 7);
    ASSERT_TRUE(LoadUpdateImage(
                    Write("long.bin", SealUpdateFile(Fields(), longPayload, SealedForm::WholeFile)),
                    false, image, display)
                    .Accepted());

    struct Row {
        const char* name;
        SealedForm form;
        std::size_t payloadLength;
        std::uint8_t plainPayload;
    };
    const Row rows[] = {
        {"whole-file form, whole blocks", SealedForm::WholeFile, 1000, 0},
        {"header form, payload as stored", SealedForm::HeaderOnly, 1001, 1},
        {"one byte", SealedForm::WholeFile, 8, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UpdateHeader fields = Fields(0x91);
        fields.plainPayload = row.plainPayload;
        const Bytes payload = Payload(row.payloadLength, 3);
        const Bytes file = SealUpdateFile(fields, payload, row.form);
        const bool allowHeaderForm = row.form == SealedForm::HeaderOnly;
        const ImageCheck check =
            LoadUpdateImage(Write("update.bin", file), allowHeaderForm, image, display);
        ASSERT_TRUE(check.Accepted());
        EXPECT_EQ(check.form, row.form);

        const UpdateHeader stored = image.Header();
        EXPECT_EQ(stored.modelCode, 0x91);
        EXPECT_EQ(stored.plainPayload, row.plainPayload);
        EXPECT_EQ(stored.payloadLength, row.payloadLength);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), image.begin() + 512));
        EXPECT_TRUE(
            std::all_of(image.begin() + 512 + static_cast<std::ptrdiff_t>(row.payloadLength),
                        image.end(), [](std::uint8_t b) { return b == 0; }));
    }
}

TEST_F(UpdateFileTest, ShortLastBlockDeciphersAsIfZerosCompletedIt) {
    // 512 + 13 bytes: the last 5 bytes of the file are a short block.
    const Bytes payload = Payload(13, 40);
    const Bytes file = SealUpdateFile(Fields(), payload, SealedForm::WholeFile);
    ASSERT_EQ(file.size() % 8, 5u);

    RecordingDisplay display;
    UpdateImage image;
    ASSERT_TRUE(LoadUpdateImage(Write("short.bin", file), false, image, display).Accepted());
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 8, image.begin() + 512));

    std::array<std::uint8_t, 8> lastBlock{};
    std::copy(file.end() - 5, file.end(), lastBlock.begin());
    TripleDesDecrypt(lastBlock.data(), 5, lastBlock.data());
    EXPECT_TRUE(std::equal(lastBlock.begin(), lastBlock.begin() + 5, image.begin() + 520));
    EXPECT_TRUE(std::all_of(image.begin() + 525, image.begin() + 600,
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(UpdateFileTest, FilesThatCannotBeOpened) {
    const auto missing = m_dir / "missing.bin";
    // Opening a FIFO must not block.
    const std::filesystem::path paths[] = {missing, m_dir, testing::MakeNonRegularFile(m_dir)};
    for (const auto& path : paths) {
        SCOPED_TRACE(TextOfPath(path));
        RecordingDisplay check;
        UpdateImage image;
        const ImageCheck checked = CheckUpdateFile(path, image, check);
        EXPECT_EQ(checked.result, ImageLoadResult::CannotOpen);
        EXPECT_NE(checked.openError.find(TextOfPath(path)), std::string::npos);
        EXPECT_EQ(check.events, std::vector<std::string>{"reset:"});  // no reason, no box

        RecordingDisplay load;
        EXPECT_EQ(LoadUpdateImage(path, true, image, load).result, ImageLoadResult::CannotOpen);
        EXPECT_EQ(load.events,
                  (std::vector<std::string>{"reset:", "box:Error open file/Error/error"}));
    }
}

// A file name beyond ASCII, as the window and the CLI hand it over (UTF-8 on
// Windows, the system's bytes on Linux), names the file the system holds
// under those characters, and a message names it in the same text.
TEST_F(UpdateFileTest, NamesBeyondAscii) {
    struct Row {
        const char* text;     // as the tool's texts carry it
        const char8_t* name;  // the same characters, spelled for the file system
    };
    const Row rows[] = {
        {"f\xC3\xBCr-\xE2\x82\xAC.bin", u8"f\u00FCr-\u20AC.bin"},
        {"\xE6\x9B\xB4\xE6\x96\xB0.bin", u8"\u66F4\u65B0.bin"},
        {"\xF0\x9F\x94\x8B.bin", u8"\U0001F50B.bin"},  // two UTF-16 units on Windows
    };
    const Bytes file = SealUpdateFile(Fields(), Payload(100), SealedForm::WholeFile);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const std::filesystem::path name(row.name);
        EXPECT_EQ(PathFromText(row.text), name);
        EXPECT_EQ(TextOfPath(name), row.text);

        // The whole name, as a window would show it and give it back.
        testing::WriteBytes(m_dir / name, file);
        const std::string shown = TextOfPath(m_dir / name);
        ASSERT_TRUE(shown.ends_with(row.text)) << shown;
        RecordingDisplay display;
        UpdateImage image;
        EXPECT_TRUE(CheckUpdateFile(PathFromText(shown), image, display).Accepted());
        EXPECT_TRUE(LoadUpdateImage(PathFromText(shown), false, image, display).Accepted());

        const std::string missing = TextOfPath(m_dir) + "/missing-" + row.text;
        const ImageCheck checked = CheckUpdateFile(PathFromText(missing), image, display);
        EXPECT_EQ(checked.result, ImageLoadResult::CannotOpen);
        EXPECT_NE(checked.openError.find(std::string("missing-") + row.text), std::string::npos)
            << checked.openError;
    }
}

TEST_F(UpdateFileTest, FileInformationShowsTextsAndTheFileIsAccepted) {
    UpdateHeader fields = Fields();
    fields.memo = "Caf\xE9 \x80 note";  // code page 1252
    // A type that fills its whole field with no NUL is cut at the field's end.
    const Bytes file = [&] {
        UpdateHeader plain = fields;
        plain.tag = kUpdateTag;
        plain.payloadLength = 16;
        auto header = BuildPlainHeader(plain);
        std::fill_n(header.begin() + header_layout::kTypeOffset, header_layout::kTypeWidth, 'T');
        Bytes bytes(header.begin(), header.end());
        bytes.resize(512 + 16, 0x11);
        return SealPlainFile(bytes, SealedForm::WholeFile);
    }();
    const auto path = Write("texts.bin", file);

    RecordingDisplay display;
    UpdateImage image;
    ASSERT_TRUE(CheckUpdateFile(path, image, display).Accepted());
    EXPECT_EQ(display.info.version, "V1.07");
    EXPECT_EQ(display.info.type, std::string(32, 'T'));
    EXPECT_EQ(display.info.memo, "Caf\xC3\xA9 \xE2\x82\xAC note");
    EXPECT_TRUE(display.accepted);

    // A rejected file afterwards resets the display: the file is no longer
    // accepted.
    EXPECT_FALSE(CheckUpdateFile(Write("bad.bin", Payload(600)), image, display).Accepted());
    EXPECT_FALSE(display.accepted);
}

}  // namespace
}  // namespace velmorin
