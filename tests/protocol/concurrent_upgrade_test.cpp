// SPDX-License-Identifier: MIT
// A serial upgrade and a HID upgrade at the same time in one process, each on
// its own thread with its own host, image and nonces, against two simulated
// chargers: each charger must receive its own payload intact, which holds
// only if the two runs share nothing that either of them changes.
#include <chrono>
#include <latch>
#include <thread>

#include "protocol/hid_upgrade.h"
#include "protocol/protocol_clock.h"
#include "protocol/serial_upgrade.h"
#include "protocol/upgrade_fixture.h"
#include "support/recording_host.h"

namespace velmorin {
namespace {

using testing::Bytes;
using testing::RecordingHost;
using Clock = std::chrono::steady_clock;

// One charger of the pair: its simulator's files in the shared directory.
struct ChargerFiles {
    std::filesystem::path received;
    std::filesystem::path report;
};

// What one thread's run left: the report and when it ran.
struct ThreadRun {
    UpgradeReport report;
    std::vector<std::string> messageBoxes;
    Clock::time_point start;
    Clock::time_point end;
};

class ConcurrentUpgradeTest : public testing::UpgradeFixture {
protected:
    // Starts `velmorin-sim kind` in the fixture's directory with save and
    // report files of its own, and waits for `announced`.
    std::unique_ptr<testing::BackgroundProgram> Start(const std::string& kind,
                                                      const std::string& announced,
                                                      const ChargerFiles& files,
                                                      const std::string& modelCode) {
        auto charger = std::make_unique<testing::BackgroundProgram>(std::vector<std::string>{
            VELMORIN_SIM, kind, "--dir", Dir().string(), "--save", files.received.string(),
            "--report", files.report.string(), "--model-code", modelCode});
        EXPECT_TRUE(testing::WaitForFile(Dir() / announced)) << kind << " did not announce itself";
        return charger;
    }

    static nlohmann::json ReadReport(const std::filesystem::path& path) {
        std::ifstream in(path);
        return nlohmann::json::parse(in, nullptr, false);
    }
};

TEST_F(ConcurrentUpgradeTest, SerialAndHidUpgradesAtOnceKeepTheirOwnPayloads) {
    const ChargerFiles serialFiles{Dir() / "serial-received.bin", Dir() / "serial-report.json"};
    const ChargerFiles hidFiles{Dir() / "hid-received.bin", Dir() / "hid-report.json"};
    auto serialCharger = Start("serial", "COM201.json", serialFiles, "0x2A");
    auto hidCharger = Start("hid", "charger1.json", hidFiles, "0x85");
    ASSERT_FALSE(HasFailure());

    // Different forms, model codes and lengths: a run that read the other's
    // image would send a payload, or a model, that its charger refuses.
    const Bytes serialPayload = testing::Payload(8000, 11);
    const Bytes hidPayload = testing::Payload(40001, 201);
    const auto serialFile = Seal(serialPayload, SealedForm::WholeFile, 0x2A);
    const auto hidFile = Seal(hidPayload, SealedForm::HeaderOnly, 0x85, 0, "V2.05");

    // Both hosts build their device tables, then both runs start together.
    std::latch ready(2);
    const auto upgrade = [&ready](const std::filesystem::path& file, const std::string& device,
                                  const auto& procedure) {
        RecordingHost host(file.string(), device);
        ready.arrive_and_wait();
        ThreadRun run;
        run.start = Clock::now();
        run.report = procedure(host);
        run.end = Clock::now();
        run.messageBoxes = host.messageBoxes;
        return run;
    };
    ThreadRun serialRun;
    ThreadRun hidRun;
    std::thread serialThread([&] {
        serialRun = upgrade(serialFile, "COM201",
                            [](RecordingHost& host) { return UpgradeOverSerial(host); });
    });
    std::thread hidThread([&] {
        NonceSource nonces;
        hidRun = upgrade(hidFile, "HID0",
                         [&nonces](RecordingHost& host) { return UpgradeOverHid(host, nonces); });
    });
    serialThread.join();
    hidThread.join();

    EXPECT_EQ(serialRun.report.outcome, UpgradeOutcome::Completed) << serialRun.report.message;
    EXPECT_EQ(hidRun.report.outcome, UpgradeOutcome::Completed) << hidRun.report.message;
    EXPECT_EQ(serialRun.messageBoxes, std::vector<std::string>{"Upgrade completion!|Success|none"});
    ASSERT_EQ(hidRun.messageBoxes.size(), 1u);
    EXPECT_EQ(hidRun.messageBoxes[0].rfind("Upgrade completion! (", 0), 0u)
        << hidRun.messageBoxes[0];
    // The transfers overlapped: each began before the other ended.
    EXPECT_LT(serialRun.start, hidRun.end);
    EXPECT_LT(hidRun.start, serialRun.end);

    serialCharger.reset();
    hidCharger.reset();
    EXPECT_EQ(testing::ReadBytes(serialFiles.received), serialPayload);
    EXPECT_EQ(testing::ReadBytes(hidFiles.received), hidPayload);
    const auto serialSeen = ReadReport(serialFiles.report);
    const auto hidSeen = ReadReport(hidFiles.report);
    EXPECT_EQ(serialSeen["completed"], 1);
    EXPECT_EQ(serialSeen["checksum_errors"], 0);
    EXPECT_EQ(hidSeen["completed"], 1);
    EXPECT_EQ(hidSeen["bad_replies"], 0);
    EXPECT_EQ(hidSeen["tail_nonzero_bytes"], 0);
}

}  // namespace
}  // namespace velmorin
