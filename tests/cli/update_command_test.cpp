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
#include "session/run_journal.h"
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

// A HID charger without a serial number is known by its model and its name
// alone. While it restarts into its bootloader its name (HIDn) moves to the
// charger listed after it, of another model; the run waits for it to come
// back under that name and never talks to the neighbour.
TEST_F(CliUpdateTest, HidChargerWithoutSerialNumberIsAwaitedAndItsNeighbourLeftAlone) {
    const BackgroundProgram unnumbered(
        {VELMORIN_SIM, "hid", "--dir", Dir(), "--name", "chargerA", "--serial-number", "",
         "--model-code", "0x2A", "--absence-ms", "2500", "--save", Dir() + "/unnumbered.bin"});
    auto neighbour = std::make_unique<BackgroundProgram>(
        std::vector<std::string>{VELMORIN_SIM, "hid", "--dir", Dir(), "--name", "chargerB",
                                 "--product", "Varno Kestrion Y", "--serial-number", "HY000777",
                                 "--model-code", "0x2B", "--report", Dir() + "/neighbour.json"});
    ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "chargerA.json"));
    ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "chargerB.json"));
    // The neighbour is listed right after it: while it is away, the
    // neighbour has its name.
    const auto list = RunProgram({VELMORIN_CLI, "list", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    const auto devices = nlohmann::json::parse(list.out)["devices"];
    std::string name;
    std::string neighbourName;
    for (std::size_t i = 0; i + 1 < devices.size(); ++i) {
        if (devices[i]["serial"] == "" && devices[i + 1]["serial"] == "HY000777") {
            name = devices[i]["device"];
            neighbourName = devices[i + 1]["device"];
        }
    }
    ASSERT_FALSE(name.empty()) << list.out;
    ASSERT_EQ(name.rfind("HID", 0), 0u) << name;
    ASSERT_EQ(neighbourName, "HID" + std::to_string(std::stoi(name.substr(3)) + 1));

    const auto run = RunProgram({VELMORIN_CLI, "update", Seal(2048), "--device", name, "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_EQ(json.value("outcome", ""), "completed") << run.out;
    EXPECT_EQ(json.value("attempts", 0), 1) << run.out;
    EXPECT_EQ(Received("unnumbered.bin"), m_payload);
    neighbour.reset();
    const auto seen = nlohmann::json::parse(testing::ReadText(Dir() + "/neighbour.json"));
    EXPECT_EQ(seen["model_commands"], 0) << seen.dump();
    EXPECT_EQ(seen["bad_lines"], 0) << seen.dump();
    EXPECT_EQ(seen["start_packets"], 0) << seen.dump();
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

// A run ended by a signal at three moments: Ctrl-C mid-transfer (closed,
// recorded as interrupted with how far it got), a kill that gives the
// program no chance (the started line alone says the run was cut off), and
// Ctrl-C once "Upgrade completion!" is out (the run is completed, on record
// once, and the words say so). Each time the port is free for the next run.
TEST_F(CliUpdateTest, EndingSignalsLeaveOneTrueRecordAndThePortFree) {
    const testing::ScopedEnvironment state("XDG_STATE_HOME", Dir() + "/state");
    const std::filesystem::path history = Dir() + "/state/velmorin/history.jsonl";
    struct Row {
        const char* name;
        int signal;
        const char* waitFor;
        int status;  // exit status; -1: ended by the signal
        const char* errorHas;
        LedgerOutcome outcome;
        const char* message;
        bool progress;  // the record says how far the transfer got
    };
    const Row rows[] = {
        {"Ctrl-C mid-transfer", SIGINT, "progress: 10%", 130,
         "Interrupted: the device is closed. The charger stays in its bootloader",
         LedgerOutcome::Interrupted, kInterruptedRunMessage.data(), true},
        {"Ctrl-C after the completion", SIGINT, "Upgrade completion!", 130,
         "Interrupted after the upgrade completed", LedgerOutcome::Completed, "Upgrade completion!",
         true},
        {"killed mid-transfer", SIGKILL, "progress: 10%", -1, "", LedgerOutcome::Interrupted,
         kNoOutcomeRecorded.data(), false},
    };
    std::size_t runs = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string file = Seal(64000);  // 4000 frames: several seconds
        const std::string out = Dir() + "/out" + std::to_string(runs);
        const pid_t child = ::fork();
        if (child == 0) {
            std::freopen(out.c_str(), "w", stdout);
            std::freopen((out + ".err").c_str(), "w", stderr);
            ::execl(VELMORIN_CLI, VELMORIN_CLI, "update", file.c_str(), "--device", "COM201",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        bool seen = false;
        for (int i = 0; i < 600 && !seen; ++i) {
            std::ifstream in(out);
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            seen = text.find(row.waitFor) != std::string::npos;
            if (!seen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        EXPECT_TRUE(seen);
        ::kill(child, row.signal);
        int status = 0;
        ::waitpid(child, &status, 0);
        std::ifstream err(out + ".err");
        const std::string errors((std::istreambuf_iterator<char>(err)), {});
        if (row.status < 0) {
            EXPECT_TRUE(WIFSIGNALED(status));
        } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            // The program was past its end already: nothing to interrupt.
            EXPECT_EQ(row.outcome, LedgerOutcome::Completed);
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), row.status);
            EXPECT_NE(errors.find(row.errorHas), std::string::npos) << errors;
            EXPECT_EQ(errors.find("stays in its bootloader") != std::string::npos,
                      row.outcome != LedgerOutcome::Completed)
                << errors;
        }
        // One entry for the run, whatever the moment.
        const LedgerContents lines = ReadLedger(history);
        EXPECT_TRUE(lines.warnings.empty());
        ASSERT_EQ(lines.entries.size(), ++runs);
        const LedgerEntry& entry = lines.entries.back();
        EXPECT_EQ(entry.outcome, row.outcome);
        EXPECT_EQ(entry.message, row.message);
        EXPECT_EQ(entry.device, "COM201");
        EXPECT_EQ(entry.fileVersion, "V1.02");
        EXPECT_EQ(entry.frames >= 400, row.progress) << entry.frames;

        if (row.signal == SIGKILL) {
            // A killed program leaves the terminal in exclusive mode, which
            // only root passes: this row comes last.
            continue;
        }
        // The port is free and the charger takes a whole new run.
        const auto again = RunProgram({VELMORIN_CLI, "update", Seal(512), "--device", "COM201"});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(Received("serial.bin"), m_payload);
        EXPECT_EQ(ReadLedger(history).entries.back().outcome, LedgerOutcome::Completed);
        ++runs;
    }
    // Every run has its started line and one outcome line, except the one
    // that was killed, whose started line stands alone.
    EXPECT_EQ(runs, 5u);
    std::ifstream in(history);
    std::size_t lines = 0;
    for (std::string text; std::getline(in, text);) {
        lines += text.empty() ? 0 : 1;
    }
    EXPECT_EQ(lines, 2 * runs - 1);
}

}  // namespace
}  // namespace velmorin
