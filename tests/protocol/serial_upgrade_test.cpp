// SPDX-License-Identifier: MIT
// The serial upgrade against the simulated charger over a pseudo-terminal:
// the payload arriving intact, every row of the failure table with its exact
// message, the attempt counter, and the wire facts the charger checks.
#include "protocol/serial_upgrade.h"

#include <sys/stat.h>

#include <algorithm>

#include "device/device_channel.h"
#include "protocol/upgrade_fixture.h"
#include "session/device_table.h"
#include "support/recording_host.h"

namespace velmorin {
namespace {

using testing::Bytes;
using testing::RecordingHost;

class SerialUpgradeTest : public testing::UpgradeFixture {
protected:
    // Runs the upgrade that `host` describes on COM201 and checks what every way out must
    // leave behind: the window set back and the port free again.
    UpgradeReport Upgrade(RecordingHost& host) {
        const UpgradeReport report = UpgradeOverSerial(host);
        ExpectWindowSetBack(host);
        DeviceChannel probe;
        EXPECT_TRUE(probe.Open("COM201", 9600)) << "the run left the port open";
        return report;
    }

    std::size_t Count(const std::vector<std::string>& texts, const std::string& text) {
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
    }
};

TEST_F(SerialUpgradeTest, PayloadArrivesIntact) {
    struct Row {
        const char* name;
        std::size_t length;
        int progressMaximum;
        int frames;  // the length frame and the payload frames
    };
    const Row rows[] = {
        {"partial last block", 1000, 62, 64},
        {"whole blocks only", 256, 16, 17},
        {"shorter than a block", 8, 0, 2},
        {"no payload", 0, 0, 1},
    };
    StartCharger("serial", "COM201.json", {"--port", "COM201", "--model-code", "0x2A"});
    int completed = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes payload = testing::Payload(row.length);
        const auto file = Seal(payload, SealedForm::WholeFile, 0x2A);
        RecordingHost host(file.string(), "COM201");
        const UpgradeReport report = Upgrade(host);
        EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Upgrade completion!|Success|none"});
        EXPECT_EQ(host.statusTexts, (std::vector<std::string>{"Open file: " + file.string(),
                                                              "Connecting...", "Upgrading ..."}));
        EXPECT_EQ(host.progressMaximum, row.progressMaximum);
        EXPECT_EQ(report.attempts, 1);
        EXPECT_EQ(static_cast<int>(report.framesSent), row.frames);
        ++completed;
        ASSERT_TRUE(testing::WaitForFile(Received()));
        EXPECT_EQ(testing::ReadBytes(Received()), payload);
        std::filesystem::remove(Received());
    }
    const auto seen = StopCharger();
    EXPECT_EQ(seen["completed"], completed);
    EXPECT_EQ(seen["checksum_errors"], 0);
    // The paced enter command: one character every 50 ms (at 9600: the
    // firmware hears nothing else); the full wake at 128000.
    EXPECT_GE(seen["paced_gap_ms"].get<double>(), 45.0);
    for (const auto& wake : seen["wake_bytes"]) {
        EXPECT_EQ(wake.get<Bytes>(), (Bytes{'&', '&', '&', 'u', 0x07}));
    }
}

struct FailureRow {
    const char* name;
    std::vector<std::string> charger;  // the simulator's options
    std::vector<std::string> messageBoxes;
    int attempts;
    std::size_t connectingAgain;
};

void PrintTo(const FailureRow& row, std::ostream* out) {
    *out << row.name;
}

const std::string kComm = "Error communication.\n";
const std::string kCompletion = "Upgrade completion!|Success|none";

// Each row is a test of its own, so that CTest can run the slow ones (seven
// attempts take their time) side by side.
class SerialFailureTest : public SerialUpgradeTest,
                          public ::testing::WithParamInterface<FailureRow> {};

TEST_P(SerialFailureTest, ReachesItsMessage) {
    const FailureRow& row = GetParam();
    std::vector<std::string> args = {"--port", "COM201"};
    args.insert(args.end(), row.charger.begin(), row.charger.end());
    StartCharger("serial", "COM201.json", args);
    const Bytes payload = testing::Payload(1000);  // 62 whole blocks and 8 bytes
    const auto file = Seal(payload, SealedForm::WholeFile, 0x2A);
    RecordingHost host(file.string(), "COM201");
    const UpgradeReport report = Upgrade(host);
    EXPECT_EQ(host.messageBoxes, row.messageBoxes);
    EXPECT_EQ(report.attempts, row.attempts);
    EXPECT_EQ(Count(host.statusTexts, "Connecting again..."), row.connectingAgain);
    if (row.messageBoxes.front().rfind("The update file", 0) == 0) {
        // The mismatch message comes after the window is set back.
        EXPECT_EQ(host.events.back(), "box:" + row.messageBoxes.front());
    } else {
        EXPECT_EQ(host.events.back(), "update:on");
    }
    StopCharger();
    if (row.messageBoxes.front() == kCompletion) {
        EXPECT_EQ(testing::ReadBytes(Received()), payload);
    }
    if (row.attempts == 1 && row.messageBoxes.front() == kCompletion) {
        EXPECT_EQ(report.resends, 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SerialFailureTest,
    ::testing::Values(
        FailureRow{"NoWakeAnswer",
                   {"--model-code", "0x2A", "--silent-wake", "7"},
                   {"Device not found.|Info|none"},
                   7,
                   6},
        FailureRow{"WrongWakeAnswer",
                   {"--model-code", "0x2A", "--wrong-wake", "7"},
                   {kComm + "0|Error|error"},
                   7,
                   6},
        FailureRow{"LengthFrameRefused",
                   {"--model-code", "0x2A", "--refuse-length", "7"},
                   {kComm + "1|Error|error"},
                   7,
                   6},
        FailureRow{"WholeBlockRefused",
                   {"--model-code", "0x2A", "--refuse-block", "3", "--refuse-count", "7"},
                   {kComm + "2|Error|error"},
                   7,
                   6},
        FailureRow{"LastPartialBlockRefused",
                   {"--model-code", "0x2A", "--refuse-block", "62", "--refuse-count", "7"},
                   {kComm + "3|Error|error"},
                   7,
                   6},
        FailureRow{"SixMixedFailuresThenASeventh",
                   {"--model-code", "0x2A", "--silent-wake", "2", "--wrong-wake", "2",
                    "--refuse-length", "3"},
                   {kComm + "1|Error|error"},
                   7,
                   6},
        FailureRow{"SixFailuresThenSuccess",
                   {"--model-code", "0x2A", "--wrong-wake", "3", "--refuse-length", "3"},
                   {kCompletion},
                   7,
                   6},
        FailureRow{"BlockAskedForThreeMoreTimes",
                   {"--model-code", "0x2A", "--resend-block", "5", "--resend-count", "3"},
                   {kCompletion},
                   1,
                   0},
        FailureRow{"FileNotForThisCharger",
                   {"--model-code", "0x2B"},
                   {"The update file is in inconformity with the device.|Error|error"},
                   1,
                   0}),
    [](const ::testing::TestParamInfo<FailureRow>& row) { return std::string(row.param.name); });

TEST_F(SerialUpgradeTest, RefusedBlockRestartsFromTheEnterCommand) {
    StartCharger("serial", "COM201.json",
                 {"--port", "COM201", "--refuse-block", "40", "--refuse-count", "1"});
    const Bytes payload = testing::Payload(4096);
    const auto file = Seal(payload, SealedForm::WholeFile);
    RecordingHost host(file.string(), "COM201");
    const UpgradeReport report = Upgrade(host);
    EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Upgrade completion!|Success|none"});
    EXPECT_EQ(report.attempts, 2);
    const auto seen = StopCharger();
    EXPECT_EQ(seen["enter_commands"], 2);
    EXPECT_EQ(seen["frames"], 41 + 256);  // blocks 0-40, then all 256 again
    EXPECT_EQ(testing::ReadBytes(Received()), payload);
}

TEST_F(SerialUpgradeTest, PlainPortWakesAt128000OnTheSecondTry) {
    // A port that discovery does not take for a charger, listed as "COMx".
    StartCharger("serial", "COM201.json",
                 {"--port", "COM201", "--product", "FT232R USB UART", "--description", "Adapter"});
    const Bytes payload = testing::Payload(104);
    const auto file = Seal(payload, SealedForm::WholeFile);
    RecordingHost host(file.string(), "COM201");
    const UpgradeReport report = Upgrade(host);
    EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Upgrade completion!|Success|none"});
    EXPECT_EQ(report.attempts, 1);
    const auto seen = StopCharger();
    // The full wake went out at 9600, unheard; the short one at 128000.
    ASSERT_EQ(seen["wake_bytes"].size(), 1u);
    EXPECT_EQ(seen["wake_bytes"][0].get<Bytes>(), (Bytes{'&', 'u', 0x07}));
    EXPECT_EQ(testing::ReadBytes(Received()), payload);
}

// What the charger relies on in time, measured by the simulated charger.
// A sleep never ends early, so each check is a lower bound, with a wide
// margin where the charger's own reads could shorten a gap.
TEST_F(SerialUpgradeTest, PausesTheChargerReliesOn) {
    // Two wrong answers to the wake: three wakes to measure.
    StartCharger("serial", "COM201.json", {"--port", "COM201", "--wrong-wake", "2"});
    const Bytes payload = testing::Payload(1000);
    const auto file = Seal(payload, SealedForm::WholeFile);
    RecordingHost host(file.string(), "COM201");
    const UpgradeReport report = Upgrade(host);
    EXPECT_EQ(host.messageBoxes, std::vector<std::string>{kCompletion});
    EXPECT_EQ(report.attempts, 3);
    const auto seen = StopCharger();

    // The wake's pauses of 30, 30, 20 and 20 ms. A late read of one byte
    // shortens the gap after it, so each pause is judged by its median over
    // the wakes, against half its length.
    const std::vector<double> pauses = {30, 30, 20, 20};
    const auto wakes = seen.value("wake_gaps_ms", nlohmann::json::array());
    ASSERT_EQ(wakes.size(), 3u);
    for (std::size_t i = 0; i < pauses.size(); ++i) {
        std::vector<double> gaps;
        for (const auto& wake : wakes) {
            ASSERT_EQ(wake.size(), pauses.size());
            gaps.push_back(wake[i]);
        }
        std::sort(gaps.begin(), gaps.end());
        EXPECT_GE(gaps[1], pauses[i] / 2) << "pause " << i + 1 << " of the wake";
    }
    // The 1 ms pause after each accepted frame (the length frame and every
    // block but the last): measured from the answer to the next frame's
    // first byte, which can only make it longer.
    const auto framePauses = seen.value("frame_pauses", nlohmann::json::object());
    EXPECT_EQ(framePauses.value("count", 0), 63);
    EXPECT_GE(framePauses.value("min_ms", 0.0), 1.0);
    // One character of the enter command every 50 ms.
    EXPECT_GE(seen.value("paced_gap_ms", 0.0), 45.0);
    // The pause after the enter command's '&' gives the bootloader its time
    // to start: nothing was lost to it.
    EXPECT_FALSE(seen.contains("bytes_while_starting"));
}

// The host waits 1000 ms for the wake's answer and for each frame's: an
// answer late within that is awaited, nothing sent before it, nothing resent.
TEST_F(SerialUpgradeTest, LateAnswersAreAwaitedWithoutResend) {
    struct Row {
        const char* name;
        std::vector<std::string> charger;
    };
    const Row rows[] = {
        {"block 10 answered after 700 ms", {"--late-block", "10", "--late-ms", "700"}},
        {"the wake answered after 600 ms", {"--late-wake-ms", "600"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args = {"--port", "COM201"};
        args.insert(args.end(), row.charger.begin(), row.charger.end());
        StartCharger("serial", "COM201.json", args);
        const Bytes payload = testing::Payload(1000);
        const auto file = Seal(payload, SealedForm::WholeFile);
        RecordingHost host(file.string(), "COM201");
        const UpgradeReport report = Upgrade(host);
        EXPECT_EQ(host.messageBoxes, std::vector<std::string>{kCompletion});
        EXPECT_EQ(report.attempts, 1);
        EXPECT_EQ(report.resends, 0u);
        EXPECT_EQ(report.timeouts, 0u);
        const auto seen = StopCharger();
        EXPECT_EQ(seen.value("late_answers", 0), 1);
        EXPECT_FALSE(seen.contains("bytes_before_late_answer"))
            << "the host went on before the answer";
        EXPECT_EQ(seen["wakes"], 1);
        EXPECT_EQ(seen["frames"], 63);  // each block once
        EXPECT_EQ(testing::ReadBytes(Received()), payload);
        std::filesystem::remove(Received());
    }
}

TEST_F(SerialUpgradeTest, AdapterPulledMidwayEndsTheRunAndTheCharger) {
    StartCharger("serial", "COM201.json", {"--port", "COM201", "--hang-up-at-block", "5"});
    const Bytes description = testing::ReadBytes(Dir() / "COM201.json");
    const std::string node = nlohmann::json::parse(description.begin(), description.end())["node"];
    struct stat terminal {};
    ASSERT_EQ(::stat(node.c_str(), &terminal), 0);
    const auto file = Seal(testing::Payload(4096), SealedForm::WholeFile);
    RecordingHost host(file.string(), "COM201");
    const UpgradeReport report = UpgradeOverSerial(host);
    ExpectWindowSetBack(host);
    EXPECT_NE(report.outcome, UpgradeOutcome::Completed);
    // The charger hung up its terminal at block 5 and left: its node and its
    // description are gone, as an unplugged adapter's are.
    const auto seen = StopCharger();
    EXPECT_EQ(seen.value("hang_ups", 0), 1);
    EXPECT_EQ(seen["frames"], 5);
    // Another test's pseudo-terminal may have taken the same number since: a
    // node made afresh has a change time of its own.
    struct stat now {};
    const bool sameTerminal = ::stat(node.c_str(), &now) == 0 &&
                              now.st_ctim.tv_sec == terminal.st_ctim.tv_sec &&
                              now.st_ctim.tv_nsec == terminal.st_ctim.tv_nsec;
    EXPECT_FALSE(sameTerminal) << node << " is still the charger's terminal";
    EXPECT_FALSE(std::filesystem::exists(Dir() / "COM201.json"));
}

TEST_F(SerialUpgradeTest, FilesAndPortsThatEndTheRunAtOnce) {
    StartCharger("serial", "COM201.json", {"--port", "COM201"});
    struct Row {
        const char* name;
        std::filesystem::path file;
        std::string device;
        std::vector<std::string> messageBoxes;
        std::string fileMessage;
    };
    const Row rows[] = {
        {"header form",
         Seal(testing::Payload(64), SealedForm::HeaderOnly),
         "COM201",
         {},
         "file-reset:File format error!"},
        {"missing file",
         Dir() / "missing.bin",
         "COM201",
         {"Error open file|Error|error"},
         "file-reset:"},
        {"no such port",
         Seal(testing::Payload(64), SealedForm::WholeFile),
         "COM250",
         {"Error opening COM port|Error|error"},
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingHost host(row.file.string(), "COM201");
        if (row.device != "COM201") {
            host.RenameSelected(row.device);
        }
        const UpgradeReport report = Upgrade(host);
        EXPECT_EQ(host.messageBoxes, row.messageBoxes);
        const bool reset = std::any_of(host.events.begin(), host.events.end(), [](const auto& e) {
            return e.rfind("file-reset:", 0) == 0;
        });
        EXPECT_EQ(reset, !row.fileMessage.empty());
        if (!row.fileMessage.empty()) {
            EXPECT_NE(std::find(host.events.begin(), host.events.end(), row.fileMessage),
                      host.events.end());
        }
        EXPECT_NE(report.outcome, UpgradeOutcome::Completed);
    }
    EXPECT_EQ(StopCharger()["enter_commands"], 0);
}

}  // namespace
}  // namespace velmorin
