// SPDX-License-Identifier: MIT
// `velmorin-cli update --trace`: the wire trace of a serial run against the
// simulator (which asks for block 3 again once), as text and as JSON lines,
// with the payload only ever masked; no trace without the option; a trace
// that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "device/channel_framing.h"
#include "image/update_sealer.h"
#include "protocol/bootloader_wire.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using testing::RunProgram;

// 6 whole blocks and a last one of 8 bytes (a whole number of the file's
// 8-byte cipher blocks, so that every payload byte deciphers to itself).
constexpr std::size_t kPayloadLength = 104;

std::vector<std::string> Lines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Every file under `directory`, with its size.
std::vector<std::pair<std::string, std::uintmax_t>> FilesUnder(
    const std::filesystem::path& directory) {
    std::vector<std::pair<std::string, std::uintmax_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
        if (entry.is_regular_file()) {
            files.emplace_back(entry.path().string(), entry.file_size());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The time stamp a text line begins with, in ms.
double Stamp(const std::string& line) {
    return std::stod(line.substr(0, line.find(" ms ")));
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%s%02X", text.empty() ? "" : " ", byte);
        text += digits;
    }
    return text;
}

// The trace's text folded for a search: upper case, without blanks, so that
// hex digits read alike however they are spaced or cased.
std::string Folded(const std::string& text) {
    std::string folded;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            folded += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return folded;
}

class CliTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::uint8_t> payload(kPayloadLength);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<std::uint8_t>(i * 31 + 5);
        }
        m_payload = payload;
        UpdateHeader fields;
        fields.version = "V1.02";
        fields.modelCode = 0x2A;
        testing::WriteBytes(File(), SealUpdateFile(fields, payload, SealedForm::WholeFile));
    }

    std::string Dir() const { return m_directory.Path().string(); }
    std::string File() const { return Dir() + "/update.bin"; }

    // A fresh simulated charger for each run, so that each run meets the
    // same resend.
    void StartCharger() {
        m_charger.reset();
        std::filesystem::remove(m_directory.Path() / "COM201.json");
        m_charger = std::make_unique<BackgroundProgram>(
            std::vector<std::string>{VELMORIN_SIM, "serial", "--dir", Dir(), "--model-code", "0x2A",
                                     "--resend-block", "3", "--resend-count", "1"});
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "COM201.json"));
    }

    // Block `block` as it travels: masked, then its XOR byte.
    std::string WireBlock(std::size_t block) const {
        const std::size_t first = block * kSerialBlockSize;
        const std::size_t length = std::min(kSerialBlockSize, m_payload.size() - first);
        std::vector<std::uint8_t> wire(length);
        MaskSerialBlock({m_payload.data() + first, length}, wire.data());
        wire.push_back(FrameChecksum(wire));
        return Hex(wire);
    }

    // A payload travels masked: no run of 16 plain payload bytes is in the
    // trace, neither as hex (spaced or not, in either case) nor as raw bytes.
    void ExpectNoPlainPayload(const std::string& trace) const {
        const std::string folded = Folded(trace);
        constexpr std::size_t kRun = 16;
        for (std::size_t first = 0; first + kRun <= m_payload.size(); ++first) {
            const std::vector<std::uint8_t> run(m_payload.begin() + first,
                                                m_payload.begin() + first + kRun);
            EXPECT_EQ(folded.find(Folded(Hex(run))), std::string::npos)
                << "plain payload bytes " << first << " to " << first + kRun - 1 << " as hex";
            EXPECT_EQ(trace.find(std::string(run.begin(), run.end())), std::string::npos)
                << "plain payload bytes " << first << " to " << first + kRun - 1 << " as bytes";
        }
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_devices{"VELMORIN_VIRTUAL_DEVICES", Dir()};
    testing::TempDirectory m_stateDirectory;  // the history, apart from the files looked at
    testing::ScopedEnvironment m_state{"XDG_STATE_HOME", m_stateDirectory.Path().string()};
    std::unique_ptr<BackgroundProgram> m_charger;
    std::vector<std::uint8_t> m_payload;
};

TEST_F(CliTraceTest, TraceShowsTheSerialConversation) {
    StartCharger();
    const std::string tracePath = Dir() + "/run.trace";
    const auto run =
        RunProgram({VELMORIN_CLI, "update", File(), "--device", "COM201", "--trace", tracePath});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(tracePath);
    const std::string trace = testing::ReadText(tracePath);
    ASSERT_GT(lines.size(), 10u) << trace;

    // Every line: a time stamp, never going back, and the device.
    double previous = 0;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        const double stamp = Stamp(line);
        EXPECT_GE(stamp, previous);
        previous = stamp;
        EXPECT_NE(line.find(" ms  COM201 "), std::string::npos);
    }
    const auto index = [&](const std::string& text, std::size_t from = 0) {
        for (std::size_t i = from; i < lines.size(); ++i) {
            if (lines[i].find(text) != std::string::npos) {
                return i;
            }
        }
        return lines.size();
    };
    const std::size_t enter = index("> 3A ");
    ASSERT_LT(enter + 1, lines.size()) << trace;
    EXPECT_NE(lines[enter].find("(enter command, a byte every 50 ms)"), std::string::npos);
    EXPECT_NE(lines[enter + 1].find("< 26"), std::string::npos) << lines[enter + 1];
    EXPECT_LT(index("re-open "), lines.size());
    const std::size_t wake = index("> 26  (wake)", enter);
    const std::size_t length = index("(length frame)", wake);
    const std::size_t firstBlock3 = index("> " + WireBlock(3) + "  (block 3)", length);
    ASSERT_LT(firstBlock3 + 4, lines.size()) << trace;
    // The charger asks for it again ('5'); it goes out again, the same bytes.
    EXPECT_NE(lines[firstBlock3 + 1].find("< 35"), std::string::npos);
    EXPECT_NE(lines[firstBlock3 + 2].find("resend 1 of 3"), std::string::npos);
    EXPECT_NE(lines[firstBlock3 + 3].find("wait 5 ms"), std::string::npos);
    EXPECT_NE(lines[firstBlock3 + 4].find("> " + WireBlock(3) + "  (block 3)"), std::string::npos);
    const std::size_t last = index("> " + WireBlock(6) + "  (last block 6)", firstBlock3);
    ASSERT_LT(last, lines.size()) << trace;
    EXPECT_NE(lines.back().find("outcome: completed: Upgrade completion!"), std::string::npos)
        << lines.back();
    ExpectNoPlainPayload(trace);

    // The same run as JSON lines: the same events, the same facts.
    StartCharger();
    const std::string jsonPath = Dir() + "/run.jsonl";
    const auto jsonRun = RunProgram({VELMORIN_CLI, "update", File(), "--device", "COM201",
                                     "--trace", jsonPath, "--trace-format", "json"});
    ASSERT_EQ(jsonRun.exitCode, 0) << jsonRun.err;
    const std::vector<std::string> jsonLines = Lines(jsonPath);
    ASSERT_EQ(jsonLines.size(), lines.size());
    std::vector<nlohmann::json> events;
    for (const std::string& line : jsonLines) {
        events.push_back(nlohmann::json::parse(line));
        EXPECT_EQ(events.back()["device"], "COM201");
    }
    EXPECT_EQ(events[enter]["event"], "sent");
    EXPECT_EQ(events[enter]["label"], "enter command");
    EXPECT_EQ(events[enter]["paced_ms"], 50);
    EXPECT_EQ(events[firstBlock3]["bytes"], WireBlock(3));
    EXPECT_EQ(events[firstBlock3 + 2]["event"], "resend");
    EXPECT_EQ(events[last]["label"], "last block 6");
    EXPECT_EQ(events.back()["event"], "outcome");
    EXPECT_EQ(events.back()["message"], "Upgrade completion!");
    EXPECT_LE(events.front()["t_ms"].get<double>(), events.back()["t_ms"].get<double>());
    ExpectNoPlainPayload(testing::ReadText(jsonPath));
}

TEST_F(CliTraceTest, NoTraceWithoutTheOptionAndAnUnwritableOneChangesNothing) {
    StartCharger();
    const auto before = FilesUnder(m_directory.Path());
    const auto plain = RunProgram({VELMORIN_CLI, "update", File(), "--device", "COM201"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(FilesUnder(m_directory.Path()), before);

    StartCharger();
    const std::string unwritable = Dir() + "/no-such-folder/run.trace";
    const auto refused =
        RunProgram({VELMORIN_CLI, "update", File(), "--device", "COM201", "--trace", unwritable});
    EXPECT_EQ(refused.exitCode, 0) << refused.err;
    EXPECT_NE(refused.err.find("velmorin-cli: cannot write the trace to " + unwritable + ": "),
              std::string::npos)
        << refused.err;
}

// Several chargers at once: a trace of its own for each, named after it,
// holding that charger's conversation only.
TEST_F(CliTraceTest, EachChargerOfSeveralHasATraceOfItsOwn) {
    StartCharger();
    const BackgroundProgram second({VELMORIN_SIM, "serial", "--dir", Dir(), "--model-code", "0x2A",
                                    "--port", "COM202", "--serial-number", "SECOND"});
    ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "COM202.json"));
    const std::string tracePath = Dir() + "/run.trace";
    const auto run = RunProgram({VELMORIN_CLI, "update", File(), "--device", "COM201", "--device",
                                 "COM202", "--trace", tracePath});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string device : {"COM201", "COM202"}) {
        SCOPED_TRACE(device);
        const std::vector<std::string> lines = Lines(tracePath + "." + device);
        ASSERT_FALSE(lines.empty());
        for (const std::string& line : lines) {
            EXPECT_NE(line.find(" " + device + " "), std::string::npos) << line;
        }
        EXPECT_NE(lines.back().find("outcome: completed"), std::string::npos) << lines.back();
    }
    EXPECT_FALSE(std::filesystem::exists(tracePath));
}

}  // namespace
}  // namespace velmorin
