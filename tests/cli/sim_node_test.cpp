// SPDX-License-Identifier: MIT
// velmorin-sim playing its serial charger on a tty node it is given, as it
// plays one on a USB gadget's tty: that node and the host's node are each a
// pseudo-terminal, and the test carries the bytes between their master
// sides as a USB link carries them between a gadget's tty and the host's.
// velmorin-cli upgrades the charger across it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "image/update_sealer.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::RunProgram;

std::string ReadText(const std::filesystem::path& path) {
    const Bytes bytes = testing::ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

// The charger's node and the host's node (announced as COM201), joined.
class LinkedTerminals {
public:
    explicit LinkedTerminals(const std::filesystem::path& directory) {
        std::ofstream(directory / "COM201.json")
            << nlohmann::json{{"kind", "serial"},
                              {"port", "COM201"},
                              {"node", m_host.node},
                              {"friendly_name", "Kestrion Charger (COM201)"},
                              {"description", "Kestrion Charger"},
                              {"bus_description", "Varno Kestrion X"},
                              {"serial_number", "0001A2B3"}};
        m_thread = std::thread([this] { Carry(); });
    }
    ~LinkedTerminals() {
        m_stop = true;
        m_thread.join();
    }
    LinkedTerminals(const LinkedTerminals&) = delete;
    LinkedTerminals& operator=(const LinkedTerminals&) = delete;

    const std::string& ChargerNode() const { return m_charger.node; }

    // Hangs the charger's node up, as the gadget's tty is when the gadget is
    // unbound: every open of it reads its end and fails writes from then
    // on. Needs CAP_SYS_ADMIN; false without it.
    bool HangUpCharger() {
        if (::ioctl(m_charger.held, TIOCVHANGUP) != 0) {
            return false;
        }
        return m_charger.ReopenHeld();
    }

private:
    void Carry() {
        while (!m_stop) {
            pollfd waits[2] = {{m_charger.master, POLLIN, 0}, {m_host.master, POLLIN, 0}};
            if (::poll(waits, 2, 20) <= 0) {
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if ((waits[i].revents & POLLIN) == 0) {
                    if (waits[i].revents != 0) {
                        // A terminal side hung up and not yet opened again.
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    continue;
                }
                std::uint8_t bytes[4096];
                const ssize_t n = ::read(waits[i].fd, bytes, sizeof bytes);
                for (ssize_t done = 0; n > 0 && done < n;) {
                    const ssize_t written =
                        ::write(waits[1 - i].fd, bytes + done, static_cast<std::size_t>(n - done));
                    if (written <= 0) {
                        break;
                    }
                    done += written;
                }
            }
        }
    }

    testing::PseudoTerminal m_charger;
    testing::PseudoTerminal m_host;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class SimNodeTest : public ::testing::Test {
protected:
    std::string Dir() const { return m_directory.Path().string(); }

    // velmorin-sim on the charger's node, with extra options; its standard
    // error is kept in sim.err.
    void StartCharger(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {VELMORIN_SIM,   "serial",
                                         "--node",       m_link.ChargerNode(),
                                         "--model-code", "0x2A",
                                         "--save",       Dir() + "/saved.bin",
                                         "--report",     Dir() + "/report.json"};
        args.insert(args.end(), options.begin(), options.end());
        m_charger = testing::StartProgram(args, Dir() + "/sim.out", Dir() + "/sim.err");
        // Ready once it says where it plays.
        for (int i = 0; i < 500 && ReadText(Dir() + "/sim.out").empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_NE(ReadText(Dir() + "/sim.out").find("on " + m_link.ChargerNode()),
                  std::string::npos)
            << ReadText(Dir() + "/sim.err");
    }

    void TearDown() override {
        if (m_charger > 0) {
            ::kill(m_charger, SIGTERM);
            int status = 0;
            ::waitpid(m_charger, &status, 0);
        }
    }

    std::string Seal(std::size_t length) {
        m_payload.resize(length);
        for (std::size_t i = 0; i < length; ++i) {
            m_payload[i] = static_cast<std::uint8_t>(i * 37 + 11);
        }
        UpdateHeader fields;
        fields.version = "V1.04";
        fields.modelCode = 0x2A;
        const std::string path = Dir() + "/update.bin";
        testing::WriteBytes(path, SealUpdateFile(fields, m_payload, SealedForm::WholeFile));
        return path;
    }

    // The charger's report once it has `completed` transfers (it saves the
    // payload and writes the report just after its last answer, which may
    // end the host's run first); a key it lacks reads as null.
    nlohmann::json ReportOnceCompleted(int completed) const {
        nlohmann::json report;
        for (int i = 0; i < 500; ++i) {
            std::ifstream in(m_directory.Path() / "report.json");
            report = nlohmann::json::parse(in, nullptr, false);
            if (report.is_object() && report["completed"] == completed) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return report;
    }

    Bytes Saved() const { return testing::ReadBytes(m_directory.Path() / "saved.bin"); }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_environment{"VELMORIN_VIRTUAL_DEVICES", Dir()};
    LinkedTerminals m_link{m_directory.Path()};
    pid_t m_charger = -1;
    Bytes m_payload;
};

// A whole upgrade over the node (its last frame a short one), then a run
// stopped in the middle of its transfer and a later one: the charger, left
// in its bootloader, notes the later run's enter command (the node carries
// no rate to tell it by) and takes that run's first wake, so the run
// completes at its first attempt.
TEST_F(SimNodeTest, UpgradesOverTheNodeAndAfterAnAbandonedRun) {
    StartCharger();
    const auto first = RunProgram({VELMORIN_CLI, "update", Seal(4104), "--device", "COM201"});
    EXPECT_EQ(first.exitCode, 0) << first.err << ReadText(Dir() + "/sim.err");
    EXPECT_NE(first.out.find("Success: Upgrade completion!"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("link: 1 attempt, 258 frames, 0 resends"), std::string::npos)
        << first.out;
    EXPECT_EQ(ReportOnceCompleted(1)["completed"], 1);
    EXPECT_EQ(Saved(), m_payload);

    const std::string file = Seal(16384);
    const pid_t stopped =
        testing::StartProgram({VELMORIN_CLI, "update", file, "--device", "COM201"},
                              Dir() + "/stopped.out", Dir() + "/stopped.err");
    for (int i = 0;
         i < 2000 && ReadText(Dir() + "/stopped.out").find("progress: 30%") == std::string::npos;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(stopped, SIGINT);
    int status = 0;
    ::waitpid(stopped, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 130) << ReadText(Dir() + "/stopped.out");
    // An operator's next run comes later than the host's pause between
    // frames ever lasts.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));

    const auto again = RunProgram({VELMORIN_CLI, "update", file, "--device", "COM201"});
    EXPECT_EQ(again.exitCode, 0) << again.err << ReadText(Dir() + "/sim.err");
    EXPECT_NE(again.out.find("link: 1 attempt, 1025 frames, 0 resends"), std::string::npos)
        << again.out;
    auto report = ReportOnceCompleted(2);
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report["completed"], 2);
    EXPECT_EQ(Saved(), m_payload);
    EXPECT_EQ(report["enter_commands"], 3);
    EXPECT_EQ(report["wakes"], 3);
    EXPECT_EQ(report["checksum_errors"], 0);
    EXPECT_EQ(report["bad_lines"], 0);
}

// --unplug-at-block on a gadget (a stand-in configfs directory): when data
// block 5 first arrives the UDC file is emptied and the block goes
// unanswered; the node then hangs up as a gadget's tty does, and the
// charger opens it again, writes the controller's name back after the
// replug time and serves the host's fresh attempt to the end.
TEST_F(SimNodeTest, UnplugsAndReplugsTheGadgetOnce) {
    const std::filesystem::path gadget = m_directory.Path() / "gadget";
    std::filesystem::create_directory(gadget);
    std::ofstream(gadget / "UDC") << "dummy_udc.0\n";
    StartCharger(
        {"--gadget", gadget.string(), "--unplug-at-block", "5", "--replug-after-ms", "1200"});
    const pid_t run =
        testing::StartProgram({VELMORIN_CLI, "update", Seal(2048), "--device", "COM201"},
                              Dir() + "/run.out", Dir() + "/run.err");
    std::vector<std::string> udcTexts;  // as they followed one another
    bool hungUp = false;
    int status = 0;
    pid_t ended = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((ended = ::waitpid(run, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        const std::string text = ReadText(gadget / "UDC");
        if (!text.empty() && (udcTexts.empty() || udcTexts.back() != text)) {
            udcTexts.push_back(text);
        }
        if (text == "\n" && !hungUp) {
            hungUp = true;
            if (!m_link.HangUpCharger()) {
                ::kill(run, SIGKILL);
                ::waitpid(run, &status, 0);
                GTEST_SKIP() << "hanging a terminal up needs CAP_SYS_ADMIN";
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (ended == 0) {
        ::kill(run, SIGKILL);
        ::waitpid(run, &status, 0);
        FAIL() << "the run did not end within 30 s";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << ReadText(Dir() + "/run.err") << ReadText(Dir() + "/sim.err");
    const std::string out = ReadText(Dir() + "/run.out");
    EXPECT_NE(out.find("link: 2 attempts"), std::string::npos) << out;
    EXPECT_EQ(udcTexts, (std::vector<std::string>{"dummy_udc.0\n", "\n", "dummy_udc.0\n"}));
    auto report = ReportOnceCompleted(1);
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(Saved(), m_payload);
    EXPECT_EQ(report["unplugs"], 1);
    EXPECT_EQ(report["replugs"], 1);
    EXPECT_EQ(report["node_losses"], 1);
    EXPECT_EQ(report["completed"], 1);
    const std::string said = ReadText(Dir() + "/sim.err");
    EXPECT_NE(said.find("went away (hung up)"), std::string::npos) << said;
    EXPECT_NE(said.find("is back"), std::string::npos) << said;
}

// What the simulator refuses before it plays anything, and why.
TEST_F(SimNodeTest, RefusesWhatCannotBePlayed) {
    const std::filesystem::path unbound = m_directory.Path() / "unbound";
    std::filesystem::create_directory(unbound);
    std::ofstream(unbound / "UDC") << "\n";
    const std::string sim = VELMORIN_SIM;
    const std::string node = m_link.ChargerNode();
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string reason;
    };
    const Row rows[] = {
        {"serial unplug without a gadget",
         {sim, "serial", "--dir", Dir(), "--unplug-at-block", "3"},
         2,
         "velmorin-sim serial: --unplug-at-block and --replug-after-ms need --gadget DIR"},
        {"HID unplug without a gadget",
         {sim, "hid", "--dir", Dir(), "--unplug-at-block", "3", "--replug-after-ms", "500"},
         2,
         "velmorin-sim hid: --unplug-at-block and --replug-after-ms need --gadget DIR"},
        {"a gadget bound to no controller",
         {sim, "hid", "--gadget", unbound.string(), "--unplug-at-block", "3"},
         1,
         "is not bound to a controller (its UDC file is empty)"},
        {"no gadget there",
         {sim, "serial", "--node", node, "--gadget", Dir() + "/none"},
         1,
         "cannot read \"" + Dir() + "/none/UDC\": No such file or directory"},
        {"a hang-up on a node",
         {sim, "serial", "--node", node, "--hang-up-at-block", "1"},
         2,
         "--hang-up-at-block hangs up the simulator's own pseudo-terminal"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A simulator that took the options would serve until stopped.
        std::vector<std::string> args = {"/usr/bin/timeout", "10"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const auto refused = RunProgram(args);
        EXPECT_EQ(refused.exitCode, row.exitCode);
        EXPECT_NE(refused.err.find(row.reason), std::string::npos) << refused.err;
    }
}

}  // namespace
}  // namespace velmorin
