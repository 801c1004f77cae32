// SPDX-License-Identifier: MIT
// `velmorin-cli download` at the size limits, through a real HTTP server on
// 127.0.0.1: an update file of the largest size the format allows arrives
// whole, and the transfer cap holds exactly at its value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/update_header.h"
#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "support/http_server.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::HttpServer;

std::string LargestUpdateFile() {
    std::vector<std::uint8_t> payload(kMaxPayloadLength);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    }
    UpdateHeader fields;
    fields.version = "V4.00";
    fields.type = "2020C";
    fields.modelCode = 0x2A;
    const auto file = SealUpdateFile(fields, payload, SealedForm::WholeFile);
    return {file.begin(), file.end()};
}

TEST(CliDownloadLimits, LargestFileArrivesAndTheCapHolds) {
    struct Row {
        const char* name;
        std::string body;
        int exitCode;
        bool saved;
        std::string errorText;  // part of what standard error says
    };
    const std::string capText =
        "larger than " + std::to_string(kMaxUpdateFileBytes) + " bytes";  // the transfer's refusal
    const Row rows[] = {
        {"largest update file", LargestUpdateFile(), 0, true, ""},
        // Within the transfer cap, so only the header check refuses it.
        {"exactly the cap", std::string(kMaxUpdateFileBytes, 'x'), 1, false, "The file is big!"},
        {"one byte past the cap", std::string(kMaxUpdateFileBytes + 1, 'x'), 1, false, capText},
    };
    ASSERT_EQ(rows[0].body.size(), kMaxUpdateFileSize);

    const testing::TempDirectory directory;
    const testing::ScopedEnvironment tmpdir("TMPDIR", directory.Path().string());
    HttpServer server;
    const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
    const testing::ScopedEnvironment fallback("VELMORIN_FALLBACK_SERVER",
                                              HttpServer::RefusingHost());
    server.Serve(
        std::string(kCatalogueAddressPath),
        "[File List]\nCountEx=1\nFileName0=k.bin\nURL0=http://" + server.Host() + "/files/k.bin\n");
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server.Serve("/files/k.bin", row.body);
        const auto target = directory.Path() / ("fresh-" + std::to_string(n++)) / "k.bin";
        std::filesystem::create_directories(target.parent_path());
        const auto outcome =
            testing::RunProgram({VELMORIN_CLI, "download", "0", "-o", target.string()});
        EXPECT_EQ(outcome.exitCode, row.exitCode) << outcome.err;
        if (row.saved) {
            const auto saved = testing::ReadBytes(target);
            EXPECT_TRUE(saved == std::vector<std::uint8_t>(row.body.begin(), row.body.end()))
                << "saved " << saved.size() << " bytes";
        } else {
            EXPECT_FALSE(std::filesystem::exists(target));
        }
        EXPECT_NE(outcome.err.find(row.errorText), std::string::npos) << outcome.err;
        if (row.errorText != capText) {
            EXPECT_EQ(outcome.err.find(capText), std::string::npos) << outcome.err;
        }
    }
}

}  // namespace
}  // namespace velmorin
