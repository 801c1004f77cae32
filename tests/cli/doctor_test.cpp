// SPDX-License-Identifier: MIT
// `velmorin-cli doctor` against simulated chargers: every check passes on
// free chargers, a port another program holds names that program, a port
// this user may not open says what grants access, and the virtual device
// directory's troubles are found as the device list would meet them.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "device/device_channel.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using nlohmann::json;
using testing::BackgroundProgram;
using testing::RunProgram;

class DoctorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_serial = std::make_unique<BackgroundProgram>(
            std::vector<std::string>{VELMORIN_SIM, "serial", "--dir", Dir()});
        m_hid = std::make_unique<BackgroundProgram>(
            std::vector<std::string>{VELMORIN_SIM, "hid", "--dir", Dir()});
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "COM201.json"));
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / "charger1.json"));
        std::ifstream announcement(m_directory.Path() / "COM201.json");
        m_node = json::parse(announcement)["node"];
    }

    std::string Dir() const { return m_directory.Path().string(); }

    static testing::ProgramOutcome Doctor(std::vector<std::string> options) {
        std::vector<std::string> args = {VELMORIN_CLI, "doctor"};
        args.insert(args.end(), options.begin(), options.end());
        return RunProgram(args);
    }

    // The check named `name` of the block of `device` in doctor's JSON.
    static json Check(const json& blocks, const std::string& device, const std::string& name) {
        for (const json& block : blocks) {
            if (block["device"] != device) {
                continue;
            }
            for (const json& check : block["checks"]) {
                if (check["check"] == name) {
                    return check;
                }
            }
        }
        return json();
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_environment{"VELMORIN_VIRTUAL_DEVICES", Dir()};
    std::unique_ptr<BackgroundProgram> m_serial;
    std::unique_ptr<BackgroundProgram> m_hid;
    std::string m_node;  // the simulated serial charger's terminal
};

TEST_F(DoctorTest, FreeChargersPassEveryCheck) {
    struct Row {
        std::string device;
        std::string listedAs;
        std::vector<std::string> checks;
    };
    const Row rows[] = {
        {"COM201", "COM201", {"access", "in use", "ModemManager", "udev rule", "128000 baud"}},
        {m_node, "COM201", {"access", "in use", "ModemManager", "udev rule", "128000 baud"}},
        {"HID0", "HID0", {"access", "in use", "udev rule"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.device);
        const auto outcome = Doctor({"--device", row.device, "--json"});
        EXPECT_EQ(outcome.exitCode, 0) << outcome.out << outcome.err;
        const json blocks = json::parse(outcome.out);
        ASSERT_EQ(blocks.size(), 2u);  // the device, then the virtual device directory
        EXPECT_EQ(blocks[0]["device"], row.listedAs);
        EXPECT_EQ(blocks[0]["line"].get<std::string>().rfind("Type: Varno Kestrion X, S/N:", 0),
                  0u);
        std::vector<std::string> names;
        for (const json& block : blocks) {
            for (const json& check : block["checks"]) {
                EXPECT_EQ(check["status"], "ok") << check.dump();
                if (block["device"] == row.listedAs) {
                    names.push_back(check["check"]);
                }
            }
        }
        EXPECT_EQ(names, row.checks);
    }
    const auto text = Doctor({"--device", "COM201"});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("COM201  " + m_node +
                            "  Type: Varno Kestrion X, S/N:0001A2B3\n"
                            "  ok       access: this user may read and write " +
                            m_node + "\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  ok       128000 baud: the port takes 128000 baud\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("1 device checked: 0 problems, 0 warnings. Nothing stands in the way "
                            "of an upgrade.\n"),
              std::string::npos)
        << text.out;
}

// Held with exclusive mode (as an upgrade holds it) or merely open: either
// way the holder is named with its PID, the simulator behind the terminal
// is not, and the port is not opened at 128000 under the holder's feet.
TEST_F(DoctorTest, NamesTheProgramThatHoldsThePort) {
    const std::string pid = std::to_string(::getpid());
    for (const bool exclusive : {true, false}) {
        SCOPED_TRACE(exclusive ? "exclusive" : "open");
        DeviceChannel channel;
        int descriptor = -1;
        if (exclusive) {
            ASSERT_TRUE(channel.Open("COM201", 9600)) << channel.OpenError();
        } else {
            descriptor = ::open(m_node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(descriptor, 0);
        }
        const auto text = Doctor({"--device", "COM201"});
        EXPECT_EQ(text.exitCode, 1) << text.out << text.err;
        EXPECT_NE(text.out.find("  problem  in use: held by process " + pid +
                                " (cli_tests)\n"
                                "           fix: End that program (cli_tests, PID " +
                                pid + ": `kill " + pid + "`), or wait for its upgrade to end.\n"),
                  std::string::npos)
            << text.out;
        EXPECT_EQ(text.out.find("velmorin-sim"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("1 problem, 1 warning. An upgrade would fail"), std::string::npos);

        const json blocks = json::parse(Doctor({"--device", "COM201", "--json"}).out);
        EXPECT_EQ(Check(blocks, "COM201", "in use")["status"], "problem");
        EXPECT_EQ(Check(blocks, "COM201", "128000 baud")["finding"],
                  "not tried: the port cannot be opened now (see above)");
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
    // Free again.
    EXPECT_EQ(Doctor({"--device", "COM201"}).exitCode, 0);
}

// The program run as an unprivileged user (a copy, in a directory it can
// reach) may not open the simulated charger's terminal: the finding gives
// the node's mode and group, the fix the group to join where that group may
// read and write it (never root's), and the udev rule.
TEST_F(DoctorTest, SaysWhyThisUserCannotOpenTheCharger) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as another user";
    }
    if (const auto closed = testing::ClosedToOtherUsers(m_directory.Path())) {
        GTEST_SKIP() << "other users cannot reach " << *closed;
    }
    const std::string program = Dir() + "/velmorin-cli";
    std::filesystem::copy_file(VELMORIN_CLI, program);
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    struct Row {
        gid_t group;
        mode_t mode;
        std::string finding;
        const char* groupAdvice;  // nullptr: no group to join
    };
    const Row rows[] = {
        {dialout->gr_gid, 0660, "(mode 0660, group 'dialout'; this user is not in that group)",
         "sudo usermod -aG dialout $USER"},
        {0, 0600, "(mode 0600, group 'root'; this user is not in that group)", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.finding);
        ASSERT_EQ(::chown(m_node.c_str(), 0, row.group), 0);
        ASSERT_EQ(::chmod(m_node.c_str(), row.mode), 0);
        const auto refused =
            RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        program, "doctor", "--device", "COM201"});
        EXPECT_EQ(refused.exitCode, 1) << refused.out << refused.err;
        EXPECT_NE(refused.out.find("  problem  access: No permission to open " + m_node + " " +
                                   row.finding + "\n"),
                  std::string::npos)
            << refused.out;
        if (row.groupAdvice != nullptr) {
            EXPECT_NE(refused.out.find(row.groupAdvice), std::string::npos) << refused.out;
        } else {
            EXPECT_EQ(refused.out.find("usermod"), std::string::npos) << refused.out;
        }
        EXPECT_NE(refused.out.find("/etc/udev/rules.d/70-kestrion.rules"), std::string::npos);
        EXPECT_NE(refused.out.find("128000 baud: not tried"), std::string::npos);
    }
}

// A plain port that is not a charger (here one whose node is no terminal,
// so it cannot be set to 128000 baud, as a built-in UART that stops at
// 115200) is shown with its findings, but stands in no charger's way: only
// naming it or asking for plain ports with --include-com makes them count.
TEST_F(DoctorTest, PlainPortCountsOnlyWhenAskedFor) {
    const std::string node = Dir() + "/not-a-terminal";
    std::ofstream(node) << "";
    std::ofstream(m_directory.Path() / "plain.json") << json{
        {"kind", "serial"},
        {"port", "COM210"},
        {"node", node},
        {"friendly_name", "Communications Port (COM210)"},
        {"description", "Communications Port"}}.dump();
    struct Row {
        std::vector<std::string> options;
        int exitCode;
    };
    const Row rows[] = {
        {{}, 0},
        {{"--device", "COM210"}, 1},
        {{"--include-com"}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options.empty() ? "every device" : row.options.front());
        const auto text = Doctor(row.options);
        EXPECT_EQ(text.exitCode, row.exitCode) << text.out << text.err;
        EXPECT_NE(text.out.find("COM210  " + node + "  Communications Port (COM210)\n"),
                  std::string::npos)
            << text.out;
        EXPECT_NE(text.out.find("  problem  128000 baud: cannot open " + node + ": "),
                  std::string::npos)
            << text.out;
        EXPECT_EQ(text.out.find("An upgrade would fail") != std::string::npos, row.exitCode == 1)
            << text.out;

        std::vector<std::string> options = row.options;
        options.push_back("--json");
        const auto structured = Doctor(options);
        EXPECT_EQ(structured.exitCode, row.exitCode);
        const json blocks = json::parse(structured.out);
        // The chargers and the directory always count; the plain port only
        // when asked for.
        for (const json& block : blocks) {
            if (block["device"] == "COM210") {
                EXPECT_EQ(block.value("counted", json()), json(row.exitCode == 1));
            } else if (block["device"] == "COM201" || block["device"] == "HID0") {
                EXPECT_EQ(block.value("counted", json()), json(true));
            }
        }
        EXPECT_EQ(Check(blocks, "COM210", "128000 baud")["status"], "problem");
    }
}

// Description files that the device list skips are each named with the
// reason; skipped files are warnings, so the charger beside them still
// passes.
TEST_F(DoctorTest, FindsTheVirtualDeviceDirectorysTroubles) {
    struct Row {
        std::string file;
        std::string text;
        std::string finding;
    };
    const Row rows[] = {
        {"broken.json", "{\"kind\": \"serial\",", "is not valid JSON; skipped"},
        {"empty.json", R"({"kind": "serial", "port": "COM202"})", "describes no device; skipped"},
        {"gone.json", R"({"kind": "serial", "port": "COM203", "node": ")" + Dir() + R"(/gone"})",
         "describes COM203 at " + Dir() + "/gone, which is gone; skipped"},
        {"stale.json",
         R"({"kind": "hid", "vendor_id": 1155, "product_id": 22352, "socket": "stale.sock"})",
         "nothing listens on its socket " + Dir() + "/stale.sock; skipped"},
    };
    for (const Row& row : rows) {
        std::ofstream(m_directory.Path() / row.file) << row.text;
    }
    std::ofstream(m_directory.Path() / "stale.sock") << "";
    const auto outcome = Doctor({"--device", "COM201", "--json"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.out << outcome.err;
    const json blocks = json::parse(outcome.out);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const json check = Check(blocks, "VELMORIN_VIRTUAL_DEVICES", "description " + row.file);
        ASSERT_TRUE(check.is_object()) << outcome.out;
        EXPECT_EQ(check["status"], "warning");
        EXPECT_EQ(check["finding"], row.finding);
        EXPECT_FALSE(check["fix"].get<std::string>().empty());
    }
    EXPECT_EQ(Check(blocks, "VELMORIN_VIRTUAL_DEVICES", "description COM201.json")["status"], "ok");
}

// A directory that lists nothing leaves the named charger unknown (exit 2),
// and says why.
TEST_F(DoctorTest, SaysWhyTheVirtualDeviceDirectoryListsNothing) {
    const std::string file = Dir() + "/plain-file";
    std::ofstream(file) << "";
    struct Row {
        std::string directory;
        std::string finding;
    };
    const Row rows[] = {
        {Dir() + "/missing", "the directory does not exist, so no virtual device is listed"},
        {file, "not a directory, so no virtual device is listed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.directory);
        const testing::ScopedEnvironment environment("VELMORIN_VIRTUAL_DEVICES", row.directory);
        const auto outcome = Doctor({"--device", "COM201"});
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_NE(outcome.out.find("VELMORIN_VIRTUAL_DEVICES  " + row.directory +
                                   "  virtual devices\n  problem  directory: " + row.finding +
                                   "\n           fix: "),
                  std::string::npos)
            << outcome.out;
        EXPECT_NE(outcome.err.find("velmorin-cli doctor: no device COM201 is connected"),
                  std::string::npos)
            << outcome.err;
    }
    EXPECT_EQ(Doctor({"--no-such-option"}).exitCode, 2);
}

}  // namespace
}  // namespace velmorin
