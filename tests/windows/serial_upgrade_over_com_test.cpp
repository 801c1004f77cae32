// SPDX-License-Identifier: MIT
// The serial upgrade on Windows, through a COM port that the test harness
// puts in front of a simulated charger (tests/windows/with-sim-port): what
// the operator would see, the link's figures, the payload the charger
// received, byte for byte, and the pauses the charger relies on, as it
// measured them (the system's timers must not end a pause early).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "device/device_channel.h"
#include "image/update_sealer.h"
#include "protocol/serial_upgrade.h"
#include "support/recording_host.h"
#include "support/test_files.h"

namespace velmorin {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The harness's paths are the Linux side's; Wine shows the root of that
// file system as drive Z:.
std::filesystem::path FromHostPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        c = c == '/' ? '\\' : c;
    }
    return windows;
}

// The port given by name: Wine lists no port in the Ports class for a
// terminal its prefix links to, and a port given by name needs no listing.
class ComPortHost : public testing::RecordingHost {
public:
    ComPortHost(std::string path, std::string port)
        : RecordingHost(std::move(path), port), m_port(std::move(port)) {}
    DeviceEntry SelectedEntry() override {
        return DeviceEntry{std::string(kPlainPortModel), "", m_port, false, ""};
    }

private:
    std::string m_port;
};

class SerialUpgradeOverComTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (m_port.empty() || m_saved.empty()) {
            GTEST_SKIP() << "run through tests/windows/with-sim-port";
        }
    }

    const std::string m_port = Variable("VELMORIN_TEST_PORT");
    const std::string m_saved = Variable("VELMORIN_SIM_SAVED");
    const std::string m_report = Variable("VELMORIN_SIM_REPORT");
    testing::TempDirectory m_directory;
};

TEST_F(SerialUpgradeOverComTest, PayloadsArriveIntactWithTheWindowsTexts) {
    struct Row {
        const char* name;
        std::size_t length;
        SealedForm form;
        int progressMaximum;
    };
    const Row rows[] = {
        {"partial last block", 1000, SealedForm::WholeFile, 62},
        {"32 KiB", 32768, SealedForm::WholeFile, 2048},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes payload(row.length);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 7));
        }
        UpdateHeader fields;
        fields.version = "V1.00";
        fields.type = "1010B";
        fields.modelCode = 0x01;
        const auto file =
            m_directory.Path() / (std::string("update-") + std::to_string(row.length) + ".bin");
        testing::WriteBytes(file, SealUpdateFile(fields, payload, row.form));
        std::filesystem::remove(FromHostPath(m_saved));

        ComPortHost host(file.string(), m_port);
        const UpgradeReport report = UpgradeOverSerial(host);
        EXPECT_EQ(report.outcome, UpgradeOutcome::Completed) << report.message << report.openError;
        EXPECT_EQ(host.messageBoxes, std::vector<std::string>{"Upgrade completion!|Success|none"});
        EXPECT_EQ(host.statusTexts, (std::vector<std::string>{"Open file: " + file.string(),
                                                              "Connecting...", "Upgrading ..."}));
        EXPECT_EQ(host.progressMaximum, row.progressMaximum);
        EXPECT_FALSE(host.statusVisible);
        EXPECT_TRUE(host.updateEnabled);
        EXPECT_EQ(report.attempts, 1);
        EXPECT_EQ(report.resends, 0u);
        EXPECT_EQ(report.timeouts, 0u);
        ASSERT_TRUE(testing::WaitForFile(FromHostPath(m_saved)));
        EXPECT_EQ(testing::ReadBytes(FromHostPath(m_saved)), payload);
    }
    // What the charger measured over both runs: one character of the enter
    // command every 50 ms, and at least 1 ms after each accepted frame.
    std::ifstream reportFile(FromHostPath(m_report));
    const nlohmann::json seen = nlohmann::json::parse(reportFile, nullptr, false);
    ASSERT_TRUE(seen.is_object()) << "no report from the charger at " << m_report;
    EXPECT_EQ(seen.value("completed", 0), 2);
    EXPECT_GE(seen.value("paced_gap_ms", 0.0), 45.0);
    const auto framePauses = seen.value("frame_pauses", nlohmann::json::object());
    EXPECT_EQ(framePauses.value("count", 0),
              63 + 2048);  // the length frame and every block but the last
    EXPECT_GE(framePauses.value("min_ms", 0.0), 1.0);

    // The run gave the port back: it opens again.
    DeviceChannel probe;
    EXPECT_TRUE(probe.Open(m_port, 9600)) << probe.OpenError();
}

TEST_F(SerialUpgradeOverComTest, APortThatIsNotThereIsNamed) {
    DeviceChannel channel;
    EXPECT_FALSE(channel.Open("COM251", 128000));
    EXPECT_NE(channel.OpenError().find("COM251"), std::string::npos) << channel.OpenError();
}

}  // namespace
}  // namespace velmorin
