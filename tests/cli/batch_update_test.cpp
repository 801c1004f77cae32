// SPDX-License-Identifier: MIT
// `velmorin-cli update` on several simulated chargers at once (two serial,
// two HID, one of them scripted to fail): each charger ends on its own, the
// JSON and the table say which failed and why, every run has its line in
// the history, a history that cannot be written changes no exit status, and
// Ctrl-C ends every run at once with the ports released.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "image/update_sealer.h"
#include "protocol/upgrade_texts.h"
#include "session/ledger.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using testing::RunProgram;

// The charger the fixture scripts to fail: a HID one that refuses block 3
// every time it comes, which ends its run within a second or so.
constexpr char kFailingSerial[] = "HF02";

class BatchUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Start("serial", "COM201.json", {"--port", "COM201", "--serial-number", "SA01"}, "SA01");
        Start("serial", "COM202.json", {"--port", "COM202", "--serial-number", "SA02"}, "SA02");
        Start("hid", "chargerA.json", {"--name", "chargerA", "--serial-number", "HA01"}, "HA01");
        Start("hid", "chargerB.json",
              {"--name", "chargerB", "--serial-number", kFailingSerial, "--refuse-block", "3",
               "--refuse-count", "99"},
              kFailingSerial);
        // The HID chargers' names (HIDn) are the device list's to give.
        const auto list = RunProgram({VELMORIN_CLI, "list", "--json"});
        ASSERT_EQ(list.exitCode, 0) << list.err;
        const auto listed = nlohmann::json::parse(list.out);
        for (const auto& device : listed["devices"]) {
            m_names[device["serial"].get<std::string>()] = device["device"].get<std::string>();
        }
        ASSERT_EQ(m_names.count("HA01"), 1u) << list.out;
        ASSERT_EQ(m_names.count(kFailingSerial), 1u) << list.out;
        m_file = Seal();
    }

    void Start(const std::string& kind, const std::string& announced,
               std::vector<std::string> options, const std::string& serial) {
        std::vector<std::string> command = {
            VELMORIN_SIM,   kind,   "--dir",  Dir(),
            "--model-code", "0x2A", "--save", Saved(serial).string()};
        command.insert(command.end(), options.begin(), options.end());
        m_chargers.push_back(std::make_unique<BackgroundProgram>(command));
        ASSERT_TRUE(testing::WaitForFile(m_directory.Path() / announced)) << announced;
    }

    std::string Dir() const { return m_directory.Path().string(); }
    std::filesystem::path Saved(const std::string& serial) const {
        return m_directory.Path() / (serial + ".bin");
    }
    std::filesystem::path Ledger() const {
        return m_directory.Path() / "state" / "velmorin" / "history.jsonl";
    }

    // A few KB in the whole-file form, which both kinds of charger take.
    std::string Seal() {
        m_payload.resize(3000);
        for (std::size_t i = 0; i < m_payload.size(); ++i) {
            m_payload[i] = static_cast<std::uint8_t>(i * 29 + 3 + (i >> 7));
        }
        UpdateHeader fields;
        fields.version = "V2.10";
        fields.modelCode = 0x2A;
        const std::string path = Dir() + "/update.bin";
        testing::WriteBytes(path, SealUpdateFile(fields, m_payload, SealedForm::WholeFile));
        return path;
    }

    // The history's entries by serial number, and how many there are.
    std::map<std::string, LedgerEntry> LedgerBySerial(std::size_t& count) const {
        const LedgerContents contents = ReadLedger(Ledger());
        EXPECT_TRUE(contents.warnings.empty());
        count = contents.entries.size();
        std::map<std::string, LedgerEntry> entries;
        for (const LedgerEntry& entry : contents.entries) {
            entries[entry.serialNumber] = entry;
        }
        return entries;
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_devices{"VELMORIN_VIRTUAL_DEVICES", Dir()};
    testing::ScopedEnvironment m_state{"XDG_STATE_HOME", Dir() + "/state"};
    testing::ScopedEnvironment m_user{"USER", "line-operator"};
    std::vector<std::unique_ptr<BackgroundProgram>> m_chargers;
    std::map<std::string, std::string> m_names;  // device name by serial number
    std::vector<std::uint8_t> m_payload;
    std::string m_file;
};

TEST_F(BatchUpdateTest, AllChargersAtOnceEachEndsOnItsOwn) {
    const auto run = RunProgram({VELMORIN_CLI, "update", m_file, "--all", "--json"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    // Standard output is the JSON alone; the messages went to standard error.
    const auto json = nlohmann::json::parse(run.out);
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 4u) << run.out;
    std::map<std::string, nlohmann::json> bySerial;
    for (const auto& charger : json) {
        bySerial[charger["serial_number"].get<std::string>()] = charger;
        EXPECT_EQ(charger["model"], "Varno Kestrion X");
    }
    for (const char* serial : {"SA01", "SA02", "HA01"}) {
        SCOPED_TRACE(serial);
        EXPECT_EQ(bySerial[serial]["outcome"], "completed");
        EXPECT_EQ(bySerial[serial]["device"], m_names[serial]);
        EXPECT_EQ(bySerial[serial]["message"].get<std::string>().rfind(kTextUpgradeCompletion, 0),
                  0u);
        EXPECT_EQ(testing::ReadBytes(Saved(serial)), m_payload);
    }
    const auto& failed = bySerial[kFailingSerial];
    EXPECT_EQ(failed["outcome"], "failed");
    EXPECT_EQ(failed["device"], m_names[kFailingSerial]);
    const std::string message = failed["message"];
    EXPECT_NE(message.find(kTextErrorCommunication), std::string::npos) << message;
    EXPECT_GE(failed["attempts"].get<int>(), 1);
    EXPECT_FALSE(std::filesystem::exists(Saved(kFailingSerial)));
    // Every message box's text, verbatim under the device's name.
    EXPECT_NE(run.err.find(m_names[kFailingSerial] + ": Error: " + message), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("COM201: Success: Upgrade completion!\n"), std::string::npos);

    std::size_t lines = 0;
    auto ledger = LedgerBySerial(lines);
    EXPECT_EQ(lines, 4u);
    for (const char* serial : {"SA01", "SA02", "HA01"}) {
        EXPECT_EQ(ledger[serial].outcome, LedgerOutcome::Completed) << serial;
    }
    EXPECT_EQ(ledger[kFailingSerial].outcome, LedgerOutcome::Failed);
    EXPECT_EQ(ledger[kFailingSerial].message, message);
    EXPECT_EQ(ledger["SA01"].device, "COM201");
    EXPECT_EQ(ledger["SA01"].file, "update.bin");
    EXPECT_EQ(ledger["SA01"].fileVersion, "V2.10");
    EXPECT_EQ(ledger["SA01"].operatorName, "line-operator");

    // Without --json: a line per event under the device's name, then the
    // table, whose failing row gives the outcome and the message.
    const auto table = RunProgram({VELMORIN_CLI, "update", m_file, "--all"});
    EXPECT_EQ(table.exitCode, 1) << table.err;
    EXPECT_NE(table.out.find("COM202: Upgrading ...\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("COM201: Success: Upgrade completion!\n"), std::string::npos);
    EXPECT_NE(table.out.find(m_names["HA01"] + ": progress: "), std::string::npos);
    const std::size_t header = table.out.find("DEVICE  S/N");
    ASSERT_NE(header, std::string::npos) << table.out;
    const std::string rows = table.out.substr(header);
    const std::size_t failedRow = rows.find("\n" + m_names[kFailingSerial] + " ");
    ASSERT_NE(failedRow, std::string::npos) << rows;
    const std::string row = rows.substr(failedRow + 1, rows.find('\n', failedRow + 1) - failedRow);
    EXPECT_NE(row.find(kFailingSerial), std::string::npos) << row;
    EXPECT_NE(row.find(" failed "), std::string::npos) << row;
    EXPECT_NE(row.find(message.substr(0, message.find('\n'))), std::string::npos) << row;
    EXPECT_NE(rows.find("COM201  SA01  completed  Upgrade completion!"), std::string::npos) << rows;
    LedgerBySerial(lines);
    EXPECT_EQ(lines, 8u);
}

TEST_F(BatchUpdateTest, NamedChargersOnlyAndUsageErrors) {
    struct Row {
        std::vector<std::string> options;
        const char* error;  // on standard error
    };
    const Row usage[] = {
        {{"--all", "--device", "COM201"}, "excludes"},
        {{}, "--device NAME"},
        {{"--device", "COM201", "--device", "COM9"}, "no device COM9 is connected"},
    };
    for (const Row& row : usage) {
        std::vector<std::string> command = {VELMORIN_CLI, "update", m_file};
        command.insert(command.end(), row.options.begin(), row.options.end());
        const auto refused = RunProgram(command);
        EXPECT_EQ(refused.exitCode, 2) << row.error;
        EXPECT_NE(refused.err.find(row.error), std::string::npos) << refused.err;
    }
    {
        const testing::TempDirectory empty;
        const testing::ScopedEnvironment none("VELMORIN_VIRTUAL_DEVICES", empty.Path().string());
        const auto noCharger = RunProgram({VELMORIN_CLI, "update", m_file, "--all", "--json"});
        EXPECT_EQ(noCharger.exitCode, 2);
        EXPECT_EQ(nlohmann::json::parse(noCharger.out), nlohmann::json::array());
        EXPECT_NE(noCharger.err.find("no charger is connected"), std::string::npos);
    }
    // A refused command started nothing and recorded nothing.
    EXPECT_FALSE(std::filesystem::exists(Saved("SA01")));
    EXPECT_FALSE(std::filesystem::exists(Ledger()));

    // Names in any case; a charger named twice is upgraded once.
    const auto chosen = RunProgram({VELMORIN_CLI, "update", m_file, "--device", "com202",
                                    "--device", m_names["HA01"], "--device", "COM202", "--json"});
    EXPECT_EQ(chosen.exitCode, 0) << chosen.err;
    const auto json = nlohmann::json::parse(chosen.out);
    ASSERT_EQ(json.size(), 2u) << chosen.out;
    EXPECT_EQ(json[0]["device"], "COM202");
    EXPECT_EQ(json[1]["serial_number"], "HA01");
    EXPECT_EQ(testing::ReadBytes(Saved("SA02")), m_payload);
    EXPECT_EQ(testing::ReadBytes(Saved("HA01")), m_payload);
    EXPECT_FALSE(std::filesystem::exists(Saved("SA01")));
    std::size_t lines = 0;
    LedgerBySerial(lines);
    EXPECT_EQ(lines, 2u);
}

// One charger or several: each completed run adds its line to the history
// under the operator's name; a history that cannot be written is said on
// standard error and a completed upgrade still exits 0.
TEST_F(BatchUpdateTest, HistoryLineForEveryUpdate) {
    const auto single = RunProgram(
        {VELMORIN_CLI, "update", m_file, "--device", "COM201", "--operator", "Ana Ruiz"});
    EXPECT_EQ(single.exitCode, 0) << single.err;
    EXPECT_NE(single.out.find("Success: Upgrade completion!\n"), std::string::npos);
    const LedgerContents contents = ReadLedger(Ledger());
    ASSERT_EQ(contents.entries.size(), 1u);
    const LedgerEntry& entry = contents.entries[0];
    EXPECT_EQ(entry.device, "COM201");
    EXPECT_EQ(entry.serialNumber, "SA01");
    EXPECT_EQ(entry.outcome, LedgerOutcome::Completed);
    EXPECT_EQ(entry.message, "Upgrade completion!");
    EXPECT_EQ(entry.operatorName, "Ana Ruiz");
    EXPECT_EQ(entry.fileVersion, "V2.10");
    EXPECT_EQ(entry.frames, 189u);
    EXPECT_EQ(entry.fileSha256.size(), 64u);

    // The state folder is a file: no history can be made under it.
    const std::string blocker = Dir() + "/not-a-folder";
    testing::WriteBytes(blocker, {'x'});
    const testing::ScopedEnvironment state("XDG_STATE_HOME", blocker);
    const std::vector<std::vector<std::string>> commands = {
        {"--device", "COM201"},
        {"--device", "COM201", "--device", m_names["HA01"]},
    };
    for (const auto& devices : commands) {
        std::vector<std::string> command = {VELMORIN_CLI, "update", m_file};
        command.insert(command.end(), devices.begin(), devices.end());
        const auto run = RunProgram(command);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::string said = "velmorin-cli: cannot write the history to " + blocker;
        const std::size_t first = run.err.find(said);
        EXPECT_NE(first, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(said, first + 1), std::string::npos) << "said once: " << run.err;
    }
    EXPECT_EQ(ReadLedger(Ledger()).entries.size(), 1u);
}

TEST_F(BatchUpdateTest, CtrlCEndsEveryRunAndReleasesThePorts) {
    const std::filesystem::path out = m_directory.Path() / "out";
    const pid_t child = testing::StartProgram(
        {VELMORIN_CLI, "update", m_file, "--device", "COM201", "--device", "COM202"}, out,
        m_directory.Path() / "err");
    bool underWay = false;
    for (int i = 0; i < 200 && !underWay; ++i) {
        underWay = testing::ReadText(out).find(": progress: 10%") != std::string::npos;
        if (!underWay) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(underWay);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string errors = testing::ReadText(m_directory.Path() / "err");
    EXPECT_NE(errors.find("Interrupted: the devices are closed."), std::string::npos) << errors;
    // Each run cut off left a line that says so.
    const LedgerContents history = ReadLedger(Ledger());
    EXPECT_TRUE(history.warnings.empty());
    ASSERT_EQ(history.entries.size(), 2u);
    std::set<std::string> devices;
    for (const LedgerEntry& entry : history.entries) {
        EXPECT_EQ(entry.outcome, LedgerOutcome::Interrupted);
        devices.insert(entry.device);
    }
    EXPECT_EQ(devices, (std::set<std::string>{"COM201", "COM202"}));

    const auto again = RunProgram(
        {VELMORIN_CLI, "update", m_file, "--device", "COM201", "--device", "COM202", "--json"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(testing::ReadBytes(Saved("SA01")), m_payload);
    EXPECT_EQ(testing::ReadBytes(Saved("SA02")), m_payload);
}

}  // namespace
}  // namespace velmorin
