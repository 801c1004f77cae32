// SPDX-License-Identifier: MIT
// `velmorin-cli info` on files sealed by `velmorin-sim seal`, run as an
// operator or a script would run them: output, errors and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "session/upgrade_record.h"
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
         "Chargers: serial and HID\nModel code: 0x2A\nPayload length: 4096 bytes\n"},
        {"header form, plain payload",
         {"--form", "header", "--model-code", "7", "--plain-payload", "--memo", "a\x1b[2Jb"},
         "Version: V1.00\nType: 1010B\nMemo: a\xEF\xBF\xBD[2Jb\nForm: header only (AES-128)\n"
         "Chargers: HID only (a serial charger takes the whole-file form alone)\n"
         "Model code: 0x07\nPayload length: 4096 bytes (sent unmasked over HID)\n"},
        {"texts that would fake lines and columns",
         {"--type", "20\t20C", "--memo", "Fixes:\r\nVersion: V9.99\nModel code: 0xFF\\n\r"},
         "Version: V1.00\nType: 20\\t20C\n"
         "Memo: Fixes:\\nVersion: V9.99\\nModel code: 0xFF\\\\n\\r\n"
         "Form: whole file (Triple DES)\nChargers: serial and HID\n"
         "Model code: 0x01\nPayload length: 4096 bytes\n"},
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
        {"unknown command",
         {VELMORIN_CLI, "flash", "x.bin"},
         2,
         "velmorin-cli: unknown command \"flash\"\nRun with --help for more information.\n"},
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
    auto json = nlohmann::json::parse(accepted.out);
    EXPECT_EQ(json["accepted"], true);
    EXPECT_EQ(json["memo"], "Cr\xC3\xA8me");  // code page 1252 to UTF-8
    EXPECT_EQ(json["model_code"], 200);
    EXPECT_EQ(json["payload_length"], 100);
    EXPECT_EQ(json["form"], "whole-file");
    EXPECT_EQ(json["chargers"], nlohmann::json({"serial", "hid"}));

    const auto headerForm = (m_dir / "header.bin").string();
    ASSERT_EQ(Run({VELMORIN_SIM, "seal", Payload(100).string(), "-o", headerForm, "--form",
                   "header", "--memo", "two\nlines"})
                  .exitCode,
              0);
    auto headerJson = nlohmann::json::parse(Run({VELMORIN_CLI, "info", "--json", headerForm}).out);
    EXPECT_EQ(headerJson["chargers"], nlohmann::json({"hid"}));
    EXPECT_EQ(headerJson["memo"], "two\nlines");

    const ProgramOutcome rejected = Run({VELMORIN_CLI, "info", "--json", VELMORIN_SIM});
    EXPECT_EQ(rejected.exitCode, 1);
    const auto reason = nlohmann::json::parse(rejected.out);
    EXPECT_EQ(reason["accepted"], false);
    EXPECT_EQ(reason["reason"], "The file is big!");
}

TEST_F(CliTest, SealRefusesWhatItCannotSeal) {
    const auto payload = Payload(10).string();
    const auto big = Payload(523777).string();
    const auto missing = (m_dir / "nothing").string();
    const auto fifo = (m_dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        std::string payload;
        std::vector<std::string> options;
        int exitCode;
        std::string err;  // how standard error begins
    };
    const Row rows[] = {
        {payload, {"--version", "V1.00.001"}, 1, "velmorin-sim seal: version is 9 bytes"},
        {payload,
         {"--model-code", "256"},
         2,
         "velmorin-sim seal: --model-code must be a number from 0 to 255"},
        {payload,
         {"--model-code", "0x1z"},
         2,
         "velmorin-sim seal: --model-code must be a number from 0 to 255"},
        {big, {}, 1, "velmorin-sim seal: the payload is 523777 bytes"},
        {missing, {}, 1, "velmorin-sim seal: cannot open " + missing + ": No such file"},
        {m_dir.string(),
         {},
         1,
         "velmorin-sim seal: cannot read " + m_dir.string() + ": Is a directory\n"},
        // Reading a FIFO would wait for a writer for ever; the guard turns
        // such a wait into a failure of this row.
        {fifo, {}, 1, "velmorin-sim seal: cannot read " + fifo + ": not a regular file\n"},
    };
    const auto out = (m_dir / "x.bin").string();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.payload + (row.options.empty() ? "" : " " + row.options.back()));
        std::vector<std::string> args = {"/usr/bin/timeout", "60", VELMORIN_SIM, "seal",
                                         row.payload,        "-o", out};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ProgramOutcome outcome = Run(args);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(outcome.err.substr(0, row.err.size()), row.err);
        EXPECT_EQ(outcome.out, "");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// Both programs name themselves and the project's version, and stop there.
TEST_F(CliTest, VersionOfEachProgram) {
    const std::string version = velmorin::ToolVersion().data();
    for (const auto& [program, name] :
         {std::pair{VELMORIN_CLI, "velmorin-cli"}, std::pair{VELMORIN_SIM, "velmorin-sim"}}) {
        const ProgramOutcome outcome = Run({program, "--version"});
        EXPECT_EQ(outcome.exitCode, 0) << name;
        EXPECT_EQ(outcome.out, std::string(name) + " " + version + "\n");
    }
    EXPECT_FALSE(version.empty());
}

}  // namespace
