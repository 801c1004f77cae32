// SPDX-License-Identifier: MIT
// `velmorin-cli info` on files sealed by `velmorin-sim seal`, run as an
// operator or a script would run them: output, errors and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using velmorin::testing::ProgramOutcome;

class CliTest : public ::testing::Test {
protected:
    static ProgramOutcome Run(const std::vector<std::string>& args) {
        return velmorin::testing::RunProgram(args);
    }

    std::filesystem::path Payload(std::size_t length) {
        const auto path = m_directory.Path() / ("payload-" + std::to_string(length));
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < length; ++i) {
            out.put(static_cast<char>(i * 7));
        }
        return path;
    }

    velmorin::testing::TempDirectory m_directory;
    const std::filesystem::path& m_dir = m_directory.Path();
};

TEST_F(CliTest, InfoShowsWhatTheWindowShows) {
    struct Row {
        const char* name;
        std::vector<std::string> sealArgs;
        std::string expected;
    };
    const Row rows[] = {
        {"whole-file form",
         {"--version", "V2.13", "--type", "2020C", "--memo", "Faster balancing", "--model-code",
          "0x2A"},
         "Version: V2.13\nType: 2020C\nMemo: Faster balancing\nForm: whole file (Triple DES)\n"
         "Model code: 0x2A\nPayload length: 4096 bytes\n"},
        {"header form, plain payload",
         {"--form", "header", "--model-code", "7", "--plain-payload", "--memo", "a\x1b[2Jb"},
         "Version: V1.00\nType: 1010B\nMemo: a\xEF\xBF\xBD[2Jb\nForm: header only (AES-128)\n"
         "Model code: 0x07\nPayload length: 4096 bytes (sent unmasked over HID)\n"},
    };
    const auto payload = Payload(4096);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto file = (m_dir / "update.bin").string();
        std::vector<std::string> seal = {VELMORIN_SIM, "seal", payload.string(), "-o", file};
        seal.insert(seal.end(), row.sealArgs.begin(), row.sealArgs.end());
        ASSERT_EQ(Run(seal).exitCode, 0);

        const ProgramOutcome info = Run({VELMORIN_CLI, "info", file});
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(info.out, row.expected);
    }
}

TEST_F(CliTest, InfoRejectionsAndUsage) {
    const auto payload = Payload(600);
    const auto claimed = (m_dir / "claimed.bin").string();
    ASSERT_EQ(Run({VELMORIN_SIM, "seal", payload.string(), "-o", claimed, "--claim-length", "601"})
                  .exitCode,
              0);
    const auto big = m_dir / "big.bin";
    { std::ofstream(big, std::ios::binary).put('x'); }
    std::filesystem::resize_file(big, 524289);
    const auto missing = (m_dir / "missing.bin").string();

    struct Row {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const Row rows[] = {
        {"length does not match", {VELMORIN_CLI, "info", claimed}, 1, "File format error!\n"},
        {"too big", {VELMORIN_CLI, "info", big.string()}, 1, "The file is big!\n"},
        {"missing",
         {VELMORIN_CLI, "info", missing},
         1,
         "cannot open " + missing + ": No such file or directory\n"},
        {"no file named", {VELMORIN_CLI, "info"}, 2, ""},
        {"unknown command", {VELMORIN_CLI, "flash"}, 2, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ProgramOutcome outcome = Run(row.args);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        if (!row.err.empty()) {
            EXPECT_EQ(outcome.err, row.err);
            EXPECT_EQ(outcome.out, "");
        } else {
            EXPECT_NE(outcome.err, "");
        }
    }
}

TEST_F(CliTest, InfoJsonForScripts) {
    const auto file = (m_dir / "update.bin").string();
    ASSERT_EQ(Run({VELMORIN_SIM, "seal", Payload(100).string(), "-o", file, "--memo", "Cr\xE8me",
                   "--model-code", "200"})
                  .exitCode,
              0);
    const ProgramOutcome accepted = Run({VELMORIN_CLI, "info", "--json", file});
    EXPECT_EQ(accepted.exitCode, 0);
    const auto json = nlohmann::json::parse(accepted.out);
    EXPECT_EQ(json["accepted"], true);
    EXPECT_EQ(json["memo"], "Cr\xC3\xA8me");  // code page 1252 to UTF-8
    EXPECT_EQ(json["model_code"], 200);
    EXPECT_EQ(json["payload_length"], 100);
    EXPECT_EQ(json["form"], "whole-file");

    const ProgramOutcome rejected = Run({VELMORIN_CLI, "info", "--json", VELMORIN_SIM});
    EXPECT_EQ(rejected.exitCode, 1);
    const auto reason = nlohmann::json::parse(rejected.out);
    EXPECT_EQ(reason["accepted"], false);
    EXPECT_EQ(reason["reason"], "The file is big!");
}

TEST_F(CliTest, SealRefusesFieldsThatDoNotFit) {
    const auto payload = Payload(10).string();
    const auto out = (m_dir / "x.bin").string();
    const std::vector<std::vector<std::string>> rows = {
        {VELMORIN_SIM, "seal", payload, "-o", out, "--version", "V1.00.001"},
        {VELMORIN_SIM, "seal", payload, "-o", out, "--model-code", "256"},
        {VELMORIN_SIM, "seal", Payload(523777).string(), "-o", out},
        {VELMORIN_SIM, "seal", (m_dir / "nothing").string(), "-o", out},
    };
    for (const auto& args : rows) {
        const ProgramOutcome outcome = Run(args);
        EXPECT_EQ(outcome.exitCode, 1) << args[5];
        EXPECT_NE(outcome.err.find("velmorin-sim seal: "), std::string::npos) << outcome.err;
    }
}

}  // namespace
