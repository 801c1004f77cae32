// SPDX-License-Identifier: MIT
// `velmorin-cli update` where things go wrong for a new user: a rejected
// file, an unknown device, a charger taken twice, a long wait for a charger
// that does not answer, a charger that is unplugged, signals, a closed or
// full output. Each against simulated chargers, with the program as a child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "image/update_sealer.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using testing::RunProgram;
using Bytes = std::vector<std::uint8_t>;

std::string ReadText(const std::filesystem::path& path) {
    const Bytes bytes = testing::ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}

class CliUpdateFaultsTest : public ::testing::Test {
protected:
    std::string Dir() const { return m_directory.Path().string(); }

    // Starts a simulated charger of `kind` ("serial": COM201, "hid":
    // charger1, HID0) with extra simulator options.
    void StartCharger(const std::string& kind, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {
            VELMORIN_SIM,   kind,   "--dir",  Dir(),
            "--model-code", "0x2A", "--save", Dir() + "/" + kind + ".bin"};
        args.insert(args.end(), options.begin(), options.end());
        m_chargers.push_back(std::make_unique<BackgroundProgram>(args));
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() /
                                         (kind == "serial" ? "COM201.json" : "charger1.json")));
    }

    std::string Seal(std::size_t length, SealedForm form = SealedForm::WholeFile,
                     const std::string& name = "update.bin") {
        m_payload.resize(length);
        for (std::size_t i = 0; i < length; ++i) {
            m_payload[i] = static_cast<std::uint8_t>(i * 29 + 3);
        }
        UpdateHeader fields;
        fields.version = "V1.03";
        fields.modelCode = 0x2A;
        const std::string path = Dir() + "/" + name;
        testing::WriteBytes(path, SealUpdateFile(fields, m_payload, form));
        return path;
    }

    Bytes Received(const std::string& kind) const {
        return testing::ReadBytes(m_directory.Path() / (kind + ".bin"));
    }

    // The program under a shell, for redirections and pipes.
    testing::ProgramOutcome Shell(const std::string& script) {
        return RunProgram({"/bin/bash", "-c", "set -o pipefail; " + script});
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_environment{"VELMORIN_VIRTUAL_DEVICES", Dir()};
    std::vector<std::unique_ptr<BackgroundProgram>> m_chargers;
    Bytes m_payload;
};

// Every way a file or a device name ends the run before a charger is
// reached: a reason on the terminal, and under --json one object with the
// outcome and a message that is never empty.
TEST_F(CliUpdateFaultsTest, EveryEarlyEndSaysWhy) {
    StartCharger("serial");
    StartCharger("hid");
    const std::string empty = Dir() + "/empty.bin";
    testing::WriteBytes(empty, {});
    struct Row {
        const char* name;
        std::string file;
        std::string device;
        int exitCode;
        std::string outcome;
        std::string reason;  // on standard error, and in the JSON object
    };
    const Row rows[] = {
        {"empty file", empty, "COM201", 1, "file-rejected", "The file is empty: " + empty},
        {"missing file", Dir() + "/missing.bin", "HID0", 1, "file-rejected",
         "cannot open " + Dir() + "/missing.bin: No such file or directory"},
        {"a directory", Dir(), "COM201", 1, "file-rejected",
         "cannot open " + Dir() + ": Is a directory"},
        {"header form to a serial charger", Seal(64, SealedForm::HeaderOnly, "header.bin"),
         "COM201", 1, "file-rejected",
         "The file is in the header form, which only HID chargers take; a serial charger needs "
         "the whole-file form."},
        {"unknown device", Seal(64), "COM9", 2, "no-device", "no device COM9 is connected"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto text = RunProgram({VELMORIN_CLI, "update", row.file, "--device", row.device});
        EXPECT_EQ(text.exitCode, row.exitCode);
        EXPECT_NE(text.err.find(row.reason), std::string::npos) << text.err;

        const auto json =
            RunProgram({VELMORIN_CLI, "update", row.file, "--device", row.device, "--json"});
        EXPECT_EQ(json.exitCode, row.exitCode);
        const auto out = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_TRUE(out.is_object()) << json.out;
        EXPECT_EQ(out["outcome"], row.outcome);
        EXPECT_FALSE(out["message"].get<std::string>().empty());
        const std::string said = out.dump();
        EXPECT_NE(said.find(row.reason), std::string::npos) << said;
    }
    // A header-form file still goes to a HID charger, and device names are
    // taken in any case of their letters.
    const auto hid =
        RunProgram({VELMORIN_CLI, "update", Dir() + "/header.bin", "--device", "hid0"});
    EXPECT_EQ(hid.exitCode, 0) << hid.err;
    const auto serial = RunProgram({VELMORIN_CLI, "update", Seal(256), "--device", "com201"});
    EXPECT_EQ(serial.exitCode, 0) << serial.err;
    EXPECT_EQ(Received("serial"), m_payload);
}

// A second run on a HID charger that a first run is upgrading is refused,
// naming the first, and the first completes with its own file.
TEST_F(CliUpdateFaultsTest, AHidChargerIsHeldForTheWholeRun) {
    // The charger holds the first run mid-transfer: blocks 256 to 258 of 512
    // are each answered 1.5 s late (the host waits 2 s for an answer), so
    // the first run is still under way seconds after its 50 % line.
    StartCharger("hid", {"--late-block", "256", "--late-count", "3", "--late-ms", "1500"});
    const std::string first = Seal(32768, SealedForm::WholeFile, "first.bin");
    const Bytes firstPayload = m_payload;
    const std::string second = Seal(64, SealedForm::WholeFile, "second.bin");
    const pid_t child = testing::StartProgram({VELMORIN_CLI, "update", first, "--device", "HID0"},
                                              Dir() + "/first.out", Dir() + "/first.err");
    // The line for block 256 comes just before the block goes out.
    bool held = false;
    for (int i = 0; i < 1500 && !held; ++i) {
        held = ReadText(Dir() + "/first.out").find("progress: 50%") != std::string::npos;
        if (!held) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    const auto refused = RunProgram({VELMORIN_CLI, "update", second, "--device", "HID0"});
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(held) << ReadText(Dir() + "/first.out");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("HID0 is busy: process " + std::to_string(child)), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out.find("Success"), std::string::npos) << refused.out;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(Dir() + "/first.err");
    EXPECT_EQ(Received("hid"), firstPayload);
}

// A port whose charger does not answer: every fresh attempt says its number
// and the time left, and Ctrl-C before any transfer does not claim that a
// charger waits in its bootloader.
TEST_F(CliUpdateFaultsTest, LongWaitsSayHowLongAndCtrlCBeforeTheTransferSaysSo) {
    StartCharger("serial", {"--silent-wake", "2"});
    const auto patient = RunProgram({VELMORIN_CLI, "update", Seal(64), "--device", "COM201"});
    EXPECT_EQ(patient.exitCode, 0) << patient.err;
    EXPECT_NE(patient.out.find("Connecting...\nConnecting again... (attempt 2 of 7, up to about "),
              std::string::npos)
        << patient.out;
    EXPECT_NE(patient.out.find("Connecting again... (attempt 3 of 7, up to about "),
              std::string::npos)
        << patient.out;

    m_chargers.clear();
    StartCharger("serial", {"--silent-wake", "7"});
    const pid_t child =
        testing::StartProgram({VELMORIN_CLI, "update", Dir() + "/update.bin", "--device", "COM201"},
                              Dir() + "/wait.out", Dir() + "/wait.err");
    for (int i = 0;
         i < 200 && ReadText(Dir() + "/wait.out").find("Connecting...") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string said = ReadText(Dir() + "/wait.err");
    EXPECT_NE(said.find("Interrupted before the transfer began"), std::string::npos) << said;
    EXPECT_EQ(said.find("stays in its bootloader"), std::string::npos) << said;
}

// Output that cannot be written never stops an upgrade: a closed pipe
// (`| head`) and a full disk each end in a completed transfer, a message
// on standard error and a failing exit status. SIGHUP ends a run like
// SIGTERM, leaving the port free for the next run.
TEST_F(CliUpdateFaultsTest, OutputFailuresAndHangUpSignals) {
    StartCharger("serial");
    const std::string file = Seal(8192);
    const std::string cli = VELMORIN_CLI;
    struct Row {
        const char* name;
        std::string script;
    };
    const Row rows[] = {
        {"closed pipe", cli + " update " + file + " --device COM201 | head -c 1 >/dev/null"},
        {"full disk", cli + " update " + file + " --device COM201 >/dev/full"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(m_directory.Path() / "serial.bin");
        const auto run = Shell(row.script);
        EXPECT_EQ(run.exitCode, 1) << run.err;  // not 141: SIGPIPE did not end it
        EXPECT_NE(run.err.find("velmorin-cli: cannot write the output"), std::string::npos)
            << run.err;
        EXPECT_EQ(Received("serial"), m_payload);
    }

    // Mid-transfer: SIGHUP is handled as SIGTERM is; SIGKILL cannot be, and
    // the port comes free all the same once the program is gone.
    for (const int signal : {SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal);
        std::filesystem::remove(m_directory.Path() / "signal.out");
        const pid_t child =
            testing::StartProgram({VELMORIN_CLI, "update", file, "--device", "COM201"},
                                  Dir() + "/signal.out", Dir() + "/signal.err");
        for (int i = 0;
             i < 400 && ReadText(Dir() + "/signal.out").find("progress: 40%") == std::string::npos;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(child, signal);
        int status = 0;
        ::waitpid(child, &status, 0);

        if (signal == SIGHUP) {
            ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
            EXPECT_EQ(WEXITSTATUS(status), 130);
        }
        // The next run finds the port free (the simulator gives up a dead
        // host's exclusive mode within a second or two, as a real port's
        // last close does at once).
        testing::ProgramOutcome again;
        for (int i = 0; i < 5; ++i) {
            again = RunProgram({VELMORIN_CLI, "update", Seal(512), "--device", "COM201"});
            if (again.err.find("busy") == std::string::npos) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        EXPECT_EQ(again.exitCode, 0) << again.err;
    }
}

// An adapter pulled in the middle of a transfer: the link summary says the
// device was lost and counts no time-out for it.
TEST_F(CliUpdateFaultsTest, AnUnpluggedChargerIsReportedAsLost) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the simulator hangs its terminal up only with CAP_SYS_ADMIN";
    }
    StartCharger("serial", {"--hang-up-at-block", "20"});
    const auto run = RunProgram({VELMORIN_CLI, "update", Seal(4096), "--device", "COM201"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.out.find(" 0 time-outs, device lost, "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("The charger was lost during the run"), std::string::npos) << run.err;
}

// A charger this user may not open stays in `list --include-com` (as in the
// plain list), marked, with a word on what to do.
TEST_F(CliUpdateFaultsTest, PermissionsDoNotHideACharger) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    if (const auto closed = testing::ClosedToOtherUsers(m_directory.Path())) {
        GTEST_SKIP() << "other users cannot reach " << *closed;
    }
    StartCharger("serial");
    const std::string node =
        nlohmann::json::parse(ReadText(m_directory.Path() / "COM201.json"))["node"];
    ASSERT_EQ(::chown(node.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(node.c_str(), 0600), 0);
    const std::string program = Dir() + "/velmorin-cli";
    std::filesystem::copy_file(VELMORIN_CLI, program);
    for (const char* option : {"--include-com", "--json"}) {
        SCOPED_TRACE(option);
        const auto listed =
            RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        program, "list", "--include-com", option});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        if (std::string(option) == "--json") {
            const auto devices = nlohmann::json::parse(listed.out)["devices"];
            ASSERT_EQ(devices.size(), 1u) << listed.out;
            EXPECT_EQ(devices[0]["device"], "COM201");
            EXPECT_EQ(devices[0]["no_permission"], true);
        } else {
            EXPECT_NE(listed.out.find("COM201\tType: Varno Kestrion X, S/N:0001A2B3\t(no "
                                      "permission)\n"),
                      std::string::npos)
                << listed.out;
            EXPECT_NE(listed.err.find("may not open the chargers marked"), std::string::npos)
                << listed.err;
        }
    }
}

// ModemManager probing the port (here: a program of that name holding its
// lock) is named, with what keeps it away; the installed udev rule does.
TEST_F(CliUpdateFaultsTest, ModemManagerHoldingThePortIsNamed) {
    StartCharger("serial");
    const std::string node =
        nlohmann::json::parse(ReadText(m_directory.Path() / "COM201.json"))["node"];
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t prober = ::fork();
    if (prober == 0) {
        ::prctl(PR_SET_NAME, "ModemManager");
        const int port = ::open(node.c_str(), O_RDWR | O_NOCTTY);
        const char locked = port >= 0 && ::flock(port, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &locked, 1);
        ::pause();
        ::_exit(0);
    }
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    const auto run = RunProgram({VELMORIN_CLI, "update", Seal(64), "--device", "COM201"});
    ::kill(prober, SIGKILL);
    ::waitpid(prober, nullptr, 0);
    ASSERT_EQ(locked, 'y');
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("(ModemManager)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("ModemManager is probing the port as a modem"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\""), std::string::npos) << run.err;

    std::ifstream rules(VELMORIN_SOURCE_DIR "/packaging/70-kestrion.rules");
    std::string line;
    int serialRules = 0;
    while (std::getline(rules, line)) {
        if (line.rfind("SUBSYSTEM==\"tty\"", 0) == 0) {
            ++serialRules;
            EXPECT_NE(line.find("ENV{ID_MM_DEVICE_IGNORE}=\"1\""), std::string::npos) << line;
        }
    }
    EXPECT_GT(serialRules, 0);
}

}  // namespace
}  // namespace velmorin
