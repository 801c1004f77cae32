// SPDX-License-Identifier: MIT
// `velmorin-cli update` against simulated chargers: what an operator sees,
// the exit status, why a port does not open, and Ctrl-C in the middle of a
// transfer.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "device/device_channel.h"
#include "image/update_sealer.h"
#include "session/ledger.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using testing::RunProgram;

class CliUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_serial = std::make_unique<BackgroundProgram>(
            std::vector<std::string>{VELMORIN_SIM, "serial", "--dir", Dir(), "--model-code", "0x2A",
                                     "--save", Dir() + "/serial.bin"});
        m_hid = std::make_unique<BackgroundProgram>(
            std::vector<std::string>{VELMORIN_SIM, "hid", "--dir", Dir(), "--model-code", "0x2A",
                                     "--save", Dir() + "/hid.bin"});
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "COM201.json"));
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "charger1.json"));
    }

    std::string Dir() const { return m_directory.Path().string(); }

    std::string Seal(std::size_t length) {
        std::vector<std::uint8_t> payload(length);
        for (std::size_t i = 0; i < length; ++i) {
            payload[i] = static_cast<std::uint8_t>(i * 31 + 5);
        }
        m_payload = payload;
        UpdateHeader fields;
        fields.version = "V1.02";
        fields.modelCode = 0x2A;
        const auto file = SealUpdateFile(fields, payload, SealedForm::WholeFile);
        const std::string path = Dir() + "/update.bin";
        testing::WriteBytes(path, file);
        return path;
    }

    std::vector<std::uint8_t> Received(const std::string& name) {
        return testing::ReadBytes(m_directory.Path() / name);
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_environment{"VELMORIN_VIRTUAL_DEVICES", Dir()};
    std::unique_ptr<BackgroundProgram> m_serial;
    std::unique_ptr<BackgroundProgram> m_hid;
    std::vector<std::uint8_t> m_payload;
};

TEST_F(CliUpdateTest, UpgradesBothKindsOfCharger) {
    const std::string file = Seal(2048);
    const auto serial = RunProgram({VELMORIN_CLI, "update", file, "--device", "COM201"});
    EXPECT_EQ(serial.exitCode, 0) << serial.err;
    EXPECT_NE(serial.out.find("Connecting...\nUpgrading ...\n"), std::string::npos) << serial.out;
    EXPECT_NE(serial.out.find("Success: Upgrade completion!\n"), std::string::npos);
    EXPECT_NE(serial.out.find("link: 1 attempt, 129 frames, 0 resends"), std::string::npos);
    EXPECT_EQ(Received("serial.bin"), m_payload);

    const auto hid = RunProgram({VELMORIN_CLI, "update", file, "--device", "HID0", "--json"});
    EXPECT_EQ(hid.exitCode, 0) << hid.err;
    const auto json = nlohmann::json::parse(hid.out);
    EXPECT_EQ(json["outcome"], "completed");
    EXPECT_EQ(json["frames"], 32);
    EXPECT_EQ(json["payload_bytes"], 2048);
    EXPECT_EQ(json["message"].get<std::string>().rfind("Upgrade completion! (", 0), 0u);
    EXPECT_EQ(Received("hid.bin"), m_payload);
}

TEST_F(CliUpdateTest, SaysWhyThePortDoesNotOpen) {
    const std::string file = Seal(64);
    DeviceChannel holder;  // this test program holds the port
    ASSERT_TRUE(holder.Open("COM201", 9600)) << holder.OpenError();
    const auto busy = RunProgram({VELMORIN_CLI, "update", file, "--device", "COM201"});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_NE(busy.err.find("Error: Error opening COM port\n"), std::string::npos) << busy.err;
    EXPECT_NE(busy.err.find("busy"), std::string::npos) << busy.err;
    EXPECT_NE(busy.err.find("held by process " + std::to_string(::getpid())), std::string::npos)
        << busy.err;
    // The simulator on the pseudo-terminal's far side is the charger, not a
    // program to end.
    EXPECT_EQ(busy.err.find("velmorin-sim"), std::string::npos) << busy.err;
    holder.Close();

    const auto missing = RunProgram({VELMORIN_CLI, "update", file, "--device", "COM9"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no device COM9"), std::string::npos);
}

// The program run as an unprivileged user (a copy, in a directory it can
// reach) is refused the simulated charger's terminal and says what grants
// access: the node's group where that group may read and write it (never
// root's group), and always the udev rule.
TEST_F(CliUpdateTest, SaysWhatGrantsPermissionToThePort) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    if (const auto closed = testing::ClosedToOtherUsers(m_directory.Path())) {
        GTEST_SKIP() << "other users cannot reach " << *closed;
    }
    const std::string file = Seal(64);
    const std::string program = Dir() + "/velmorin-cli";
    std::filesystem::copy_file(VELMORIN_CLI, program);
    std::ifstream announcement(m_directory.Path() / "COM201.json");
    const std::string node = nlohmann::json::parse(announcement)["node"];
    ASSERT_EQ(node.rfind("/dev/pts/", 0), 0u) << node;

    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const gid_t dialoutGroup = dialout->gr_gid;
    struct Row {
        const char* name;
        gid_t group;
        mode_t mode;
        const char* advice;  // nullptr: no group to join
    };
    const Row rows[] = {
        {"a group that may read and write", dialoutGroup, 0660,
         "It belongs to the group 'dialout': add yourself with `sudo usermod -aG dialout $USER`"},
        {"a group that may only write", dialoutGroup, 0620, nullptr},
        {"root's group", 0, 0660, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(::chown(node.c_str(), 0, row.group), 0);
        ASSERT_EQ(::chmod(node.c_str(), row.mode), 0);
        const auto refused =
            RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        program, "update", file, "--device", "COM201"});
        EXPECT_EQ(refused.exitCode, 1) << refused.err;
        EXPECT_NE(refused.err.find("Error: Error opening COM port\nNo permission to open " + node +
                                   ".\n"),
                  std::string::npos)
            << refused.err;
        if (row.advice != nullptr) {
            EXPECT_NE(refused.err.find(row.advice), std::string::npos) << refused.err;
        } else {
            EXPECT_EQ(refused.err.find("usermod"), std::string::npos) << refused.err;
            // The udev rule is then the one advice, not an alternative.
            EXPECT_EQ(refused.err.find("\n  or "), std::string::npos) << refused.err;
        }
        EXPECT_NE(refused.err.find("/etc/udev/rules.d/70-kestrion.rules"), std::string::npos);
    }
}

TEST_F(CliUpdateTest, CtrlCLeavesTheChargerReadyForAnotherRun) {
    const testing::ScopedEnvironment state("XDG_STATE_HOME", Dir() + "/state");
    const std::filesystem::path history = Dir() + "/state/velmorin/history.jsonl";
    const std::string file = Seal(64000);  // 4000 frames: several seconds
    const std::string out = Dir() + "/out";
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen(out.c_str(), "w", stdout);
        std::freopen((out + ".err").c_str(), "w", stderr);
        ::execl(VELMORIN_CLI, VELMORIN_CLI, "update", file.c_str(), "--device", "COM201",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Interrupt once the transfer is under way.
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(out);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        if (text.find("progress: 10%") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    std::ifstream err(out + ".err");
    const std::string errors((std::istreambuf_iterator<char>(err)), {});
    EXPECT_NE(errors.find("Interrupted: the device is closed. The charger stays in its bootloader"),
              std::string::npos)
        << errors;
    // The history says the run was cut off.
    LedgerContents lines = ReadLedger(history);
    ASSERT_EQ(lines.entries.size(), 1u);
    EXPECT_EQ(lines.entries[0].outcome, LedgerOutcome::Interrupted);
    EXPECT_EQ(lines.entries[0].device, "COM201");

    // The port is free and the charger takes a whole new run.
    const auto again = RunProgram({VELMORIN_CLI, "update", Seal(512), "--device", "COM201"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Received("serial.bin"), m_payload);
    lines = ReadLedger(history);
    EXPECT_TRUE(lines.warnings.empty());
    ASSERT_EQ(lines.entries.size(), 2u);
    EXPECT_EQ(lines.entries[1].outcome, LedgerOutcome::Completed);
}

}  // namespace
}  // namespace velmorin
