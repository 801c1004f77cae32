// SPDX-License-Identifier: MIT
// The HID upgrade against the simulated HID charger over a virtual HID
// socket: the charger's restart into its bootloader, the challenge, the
// masked blocks, every failure code with its message, and the attempt and
// refusal counters.
#include "protocol/hid_upgrade.h"

#include <regex>

#include "image/update_image.h"
#include "protocol/challenge_crc.h"
#include "protocol/upgrade_fixture.h"
#include "session/device_table.h"
#include "session/upgrade_dispatch.h"
#include "support/recording_host.h"

namespace velmorin {
namespace {

using testing::Bytes;
using testing::RecordingHost;

class HidUpgradeTest : public testing::UpgradeFixture {
protected:
    UpgradeReport Upgrade(RecordingHost& host) {
        const UpgradeReport report = UpgradeOverHid(host, m_nonces);
        ExpectWindowSetBack(host);
        return report;
    }

    NonceSource m_nonces;
};

TEST(ChallengeCrc, MpegTwoParametersOverWords) {
    // Fed a word's bytes most significant first, the CRC is CRC-32/MPEG-2
    // of those bytes (whose catalogued check, for "123456789", is 0x0376E6E7;
    // a byte-wise table form of it gives 0x49E3C2FB for "12345678"); and a
    // CRC appended to its words makes the CRC of the whole come out 0.
    const std::uint32_t words[4] = {0x00001234, 0xDEADBEEF, 0x01020304, 0xFFFFFFFF};
    const std::uint32_t crc = ChallengeCrc(words);
    const std::uint32_t all[5] = {words[0], words[1], words[2], words[3], crc};
    EXPECT_EQ(ChallengeCrc(all), 0u);
    const std::uint32_t spoiled[5] = {words[0], words[1], words[2], words[3], crc ^ 1};
    EXPECT_NE(ChallengeCrc(spoiled), 0u);
    EXPECT_EQ(ChallengeCrc(std::span<const std::uint32_t>()), 0xFFFFFFFFu);
    const std::uint32_t check[2] = {0x31323334, 0x35363738};  // "12345678"
    EXPECT_EQ(ChallengeCrc(check), 0x49E3C2FBu) << "CRC-32/MPEG-2 of 12345678";
}

TEST(HidTexts, CompletionAndErrors) {
    EXPECT_EQ(CompletionText(12050), "Upgrade completion! (12.05 Sec)");
    EXPECT_EQ(CompletionText(12500), "Upgrade completion! (12.50 Sec)");
    EXPECT_EQ(CompletionText(999), "Upgrade completion! (0.99 Sec)");
    EXPECT_EQ(HidErrorText(8001), "8001: Error opening USB HID");
    EXPECT_EQ(HidErrorText(8002), "8002: Error opening USB HID");
    EXPECT_EQ(HidErrorText(8003), "8003: The update file is in inconformity with the device.");
    EXPECT_EQ(HidErrorText(1009), "1009: Error communication.\n");
}

TEST_F(HidUpgradeTest, PayloadArrivesIntact) {
    struct Row {
        const char* name;
        std::size_t length;
        SealedForm form;
        std::uint8_t modelCode;
        std::uint8_t plainPayload;
        std::string version;
        std::uint32_t modelField;
        std::uint32_t versionNumber;
        int blocks;
    };
    const Row rows[] = {
        {"masked, whole-file form", 1000, SealedForm::WholeFile, 0x85, 0, "V2.05", 1, 2005, 16},
        {"plain payload, header form", 1001, SealedForm::HeaderOnly, 0x85, 1, "V1.00", 0xFFFFFF85,
         1000, 16},
        {"one block", 64, SealedForm::HeaderOnly, 0x85, 0, "V1.23", 1, 1203, 1},
        {"65 bytes: a second block of one byte", 65, SealedForm::HeaderOnly, 0x85, 0, "V1.00", 1,
         1000, 2},
        {"no payload", 0, SealedForm::WholeFile, 0x85, 0, "V1.00", 1, 1000, 0},
    };
    StartCharger("hid", "charger1.json", {"--model-code", "0x85"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes payload = testing::Payload(row.length);
        const auto file = Seal(payload, row.form, row.modelCode, row.plainPayload, row.version);
        RecordingHost host(file.string(), "HID0");
        const UpgradeReport report = Upgrade(host);
        ASSERT_EQ(host.messageBoxes.size(), 1u);
        EXPECT_TRUE(
            std::regex_match(host.messageBoxes[0],
                             std::regex(R"(Upgrade completion! \(\d+\.\d\d Sec\)\|Success\|none)")))
            << host.messageBoxes[0];
        EXPECT_EQ(host.statusTexts, (std::vector<std::string>{"Open file: " + file.string(),
                                                              "Connecting...", "Upgrading ..."}));
        EXPECT_EQ(host.progressMaximum, row.blocks);
        EXPECT_EQ(static_cast<int>(report.framesSent), row.blocks);
        EXPECT_GT(host.pumps, 0);  // the wait for the restarted charger pumps
        ASSERT_TRUE(testing::WaitForFile(Received()));
        EXPECT_EQ(testing::ReadBytes(Received()), payload);
        std::filesystem::remove(Received());
    }
    const auto seen = StopCharger();
    EXPECT_EQ(seen["completed"], 5);
    EXPECT_EQ(seen["restarts"], 5);  // each run restarted the charger into its bootloader
    EXPECT_EQ(seen["tail_nonzero_bytes"], 0);
    EXPECT_EQ(seen["bad_replies"], 0);
    EXPECT_EQ(seen["start_packet"]["block_size"], 64);
}

TEST_F(HidUpgradeTest, StartPacketFields) {
    StartCharger("hid", "charger1.json", {"--model-code", "0x85"});
    struct Row {
        std::uint8_t plainPayload;
        std::string version;
        std::uint32_t modelField;
        std::uint32_t versionNumber;
    };
    for (const Row& row : {Row{1, "V2.05", 0xFFFFFF85, 2005}, Row{0, "V1.23", 1, 1203}}) {
        const auto file = Seal(testing::Payload(128), SealedForm::HeaderOnly, 0x85,
                               row.plainPayload, row.version);
        RecordingHost host(file.string(), "HID0");
        Upgrade(host);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream in(ReportPath());
        const auto seen = nlohmann::json::parse(in);
        EXPECT_EQ(seen["start_packet"]["model_field"], row.modelField);
        EXPECT_EQ(seen["start_packet"]["version"], row.versionNumber);
        EXPECT_EQ(seen["start_packet"]["payload_length"], 128);
    }
}

struct FailureRow {
    const char* name;
    std::vector<std::string> charger;  // besides its model code, 0x42 unless given
    std::string message;               // the box's text, caption and icon
    int attempts;
};

void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << row.name;
}

class HidFailureTest : public HidUpgradeTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(HidFailureTest, ReachesItsMessage) {
    const FailureRow& row = GetParam();
    std::vector<std::string> args = row.charger;
    if (std::find(args.begin(), args.end(), "--model-code") == args.end()) {
        args.insert(args.end(), {"--model-code", "0x42"});
    }
    StartCharger("hid", "charger1.json", args);
    const Bytes payload = testing::Payload(640);
    const auto file = Seal(payload, SealedForm::WholeFile, 0x42);
    RecordingHost host(file.string(), "HID0");
    const UpgradeReport report = Upgrade(host);
    ASSERT_EQ(host.messageBoxes.size(), 1u);
    if (row.message == "success") {
        EXPECT_EQ(host.messageBoxes[0].rfind("Upgrade completion! (", 0), 0u);
    } else {
        EXPECT_EQ(host.messageBoxes[0], row.message);
    }
    EXPECT_EQ(report.attempts, row.attempts);
    const auto seen = StopCharger();
    if (row.message == "success") {
        EXPECT_EQ(testing::ReadBytes(Received()), payload);
    }
    if (std::string(row.name) == "WrongChallenge") {
        EXPECT_EQ(seen["replies"], 0);  // the reply is not sent
    }
    if (std::string(row.name) == "RestartAfterReply") {
        EXPECT_NE(seen["nonces"][0], seen["nonces"][1]);  // a new nonce for each start packet
    }
}

const std::string kComm = "Error communication.\n|Error|error";

INSTANTIATE_TEST_SUITE_P(
    Faults, HidFailureTest,
    ::testing::Values(
        FailureRow{"FileNotForThisCharger",
                   {"--model-code", "0x43"},
                   "8003: The update file is in inconformity with the device.|Error|error",
                   2},
        FailureRow{"NeverBack", {"--never-back"}, "8001: Error opening USB HID|Error|error", 2},
        FailureRow{"FifthRefusalAcrossAttempts", {"--refuse-start", "6"}, "1002: " + kComm, 2},
        FailureRow{"FourRefusalsThenAccepted", {"--refuse-start", "4"}, "success", 1},
        FailureRow{"WrongChallenge", {"--wrong-challenge", "2"}, "1003: " + kComm, 2},
        FailureRow{"NoStartAnswer", {"--silent-start", "2"}, "1001: " + kComm, 2},
        FailureRow{"NoReplyAnswer", {"--silent-reply", "2"}, "1006: " + kComm, 2},
        FailureRow{"ReplyRefused", {"--refuse-reply", "2"}, "1007: " + kComm, 2},
        FailureRow{"RestartAfterReply", {"--restart-after-reply", "1"}, "success", 1},
        FailureRow{
            "NoBlockAnswer", {"--silent-block", "3", "--silent-count", "2"}, "1008: " + kComm, 2},
        FailureRow{
            "BlockRefused", {"--refuse-block", "9", "--refuse-count", "2"}, "1009: " + kComm, 2},
        FailureRow{"BlockRefusedOnceThenSecondAttempt", {"--refuse-block", "2"}, "success", 2},
        FailureRow{"BootloaderAlreadyRunning", {"--silent-model", "1"}, "success", 1}),
    [](const ::testing::TestParamInfo<FailureRow>& row) { return std::string(row.param.name); });

TEST_F(HidUpgradeTest, FilesThatEndTheRunBeforeConnecting) {
    StartCharger("hid", "charger1.json", {});
    const auto empty = Dir() / "empty.bin";
    std::ofstream(empty).close();
    const auto big = Dir() / "big.bin";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, kMaxUpdateFileSize + 1);
    struct Row {
        std::filesystem::path file;
        std::vector<std::string> messageBoxes;
        std::string fileEvent;  // "" for none
    };
    const Row rows[] = {
        {empty, {}, ""},
        {big, {}, "file-reset:The file is big!"},
        {Dir() / "missing.bin", {"Error open file|Error|error"}, "file-reset:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file.string());
        RecordingHost host(row.file.string(), "HID0");
        const UpgradeReport report = Upgrade(host);
        EXPECT_EQ(host.messageBoxes, row.messageBoxes);
        EXPECT_EQ(report.attempts, 0);
        const bool reset = std::any_of(host.events.begin(), host.events.end(), [](const auto& e) {
            return e.rfind("file-reset:", 0) == 0;
        });
        EXPECT_EQ(reset, !row.fileEvent.empty());
        if (reset) {
            EXPECT_NE(std::find(host.events.begin(), host.events.end(), row.fileEvent),
                      host.events.end());
        }
    }
    EXPECT_EQ(StopCharger()["model_commands"], 0);
}

TEST_F(HidUpgradeTest, UpdateCommandChoosesTheProcedureByName) {
    StartCharger("hid", "charger1.json", {});
    const auto file = Seal(testing::Payload(64), SealedForm::WholeFile);
    RecordingHost hidHost(file.string(), "HID0");
    EXPECT_EQ(RunUpgradeForSelection(hidHost, m_nonces).outcome, UpgradeOutcome::Completed);

    // Any other name goes to the serial upgrade, an empty one included.
    for (const char* name : {"", "COM250"}) {
        RecordingHost serialHost(file.string(), "HID0");
        serialHost.RenameSelected(name);
        RunUpgradeForSelection(serialHost, m_nonces);
        EXPECT_EQ(serialHost.messageBoxes,
                  std::vector<std::string>{"Error opening COM port|Error|error"})
            << name;
    }
    EXPECT_TRUE(IsHidDeviceName("HID12"));
    EXPECT_FALSE(IsHidDeviceName("XHID1"));
    EXPECT_FALSE(IsHidDeviceName("hid0"));  // letter case counts
}

}  // namespace
}  // namespace velmorin
