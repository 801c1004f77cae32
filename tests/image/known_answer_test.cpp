// SPDX-License-Identifier: MIT
// Update files sealed by an implementation written apart from velmorin: the
// loader must decipher both forms to their stated fields and payloads, and
// the sealer must seal those fields and payloads to the very same bytes. A
// wrong key, header layout or cipher detail that velmorin's own sealer and
// loader share shows here and nowhere else.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "image/update_image.h"
#include "image/update_sealer.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kKnownAnswers = VELMORIN_KNOWN_ANSWERS;

Bytes Read(const std::string& name) {
    const Bytes bytes = testing::ReadBytes(kKnownAnswers / name);
    EXPECT_FALSE(bytes.empty()) << "no known-answer file " << name;
    return bytes;
}

std::string Sha256Text(const Bytes& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    std::string text;
    for (const unsigned char byte : digest) {
        static constexpr char kDigits[] = "0123456789abcdef";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

// The fields that files.json gives for `name`.
UpdateHeader StatedFields(const std::string& name) {
    const Bytes text = Read("files.json");
    const auto stated = nlohmann::json::parse(text.begin(), text.end())[name];
    UpdateHeader fields;
    fields.tag = kUpdateTag;
    fields.version = stated["version"];
    fields.type = stated["type"];
    fields.memo = stated["memo"];
    fields.modelCode = stated["model_code"];
    fields.plainPayload = stated["plain_payload"];
    fields.payloadLength = stated["payload_length"];
    return fields;
}

void ExpectFields(const UpdateHeader& seen, const UpdateHeader& stated) {
    EXPECT_EQ(seen.tag, stated.tag);
    EXPECT_EQ(seen.version, stated.version);
    EXPECT_EQ(seen.type, stated.type);
    EXPECT_EQ(seen.memo, stated.memo);
    EXPECT_EQ(seen.modelCode, stated.modelCode);
    EXPECT_EQ(seen.plainPayload, stated.plainPayload);
    EXPECT_EQ(seen.payloadLength, stated.payloadLength);
}

struct KnownFile {
    const char* name;
    const char* payload;
    SealedForm form;
};

const KnownFile kKnownFiles[] = {
    {"whole-file.bin", "whole-file.payload", SealedForm::WholeFile},
    {"header-form.bin", "header-form.payload", SealedForm::HeaderOnly},
};

TEST(KnownAnswerFiles, DecipherToTheirStatedFieldsAndPayloads) {
    for (const KnownFile& known : kKnownFiles) {
        SCOPED_TRACE(known.name);
        const Bytes file = Read(known.name);
        const Bytes payload = Read(known.payload);
        const UpdateHeader stated = StatedFields(known.name);
        const Bytes statedText = Read("files.json");
        EXPECT_EQ(Sha256Text(payload),
                  nlohmann::json::parse(statedText.begin(),
                                        statedText.end())[known.name]["payload_sha256"]);

        // The header check, which reads the first 512 bytes only.
        UpdateImage image;
        const ImageCheck header =
            CheckUpdateHeader(std::span(file).first(kUpdateHeaderSize), file.size(), image);
        ASSERT_TRUE(header.Accepted());
        EXPECT_EQ(header.form, known.form);
        ExpectFields(image.Header(), stated);

        // The whole-file load: the payload the charger must receive.
        std::fill(image.begin(), image.end(), 0xEE);
        const ImageCheck load = LoadUpdateBytes(file, true, image);
        ASSERT_TRUE(load.Accepted());
        EXPECT_EQ(load.form, known.form);
        ExpectFields(image.Header(), stated);
        const auto loaded = image.begin() + kUpdateHeaderSize;
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), loaded, loaded + payload.size()))
            << "the loaded payload differs from the known one";
    }
}

TEST(KnownAnswerFiles, SealerGivesTheSameBytes) {
    for (const KnownFile& known : kKnownFiles) {
        SCOPED_TRACE(known.name);
        EXPECT_EQ(SealUpdateFile(StatedFields(known.name), Read(known.payload), known.form),
                  Read(known.name));
    }
}

}  // namespace
}  // namespace velmorin
