// SPDX-License-Identifier: MIT
// `velmorin-cli station` against simulated chargers that come and go while it
// runs: each charger upgraded once per serial number, a finished one left
// alone when it comes back, a failed one not tried again while it stays
// plugged, other models skipped, slot names on the events, the history's
// lines, and the exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "image/update_sealer.h"
#include "protocol/hid_upgrade.h"
#include "session/ledger.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using Clock = std::chrono::steady_clock;
using Events = std::vector<nlohmann::json>;

// velmorin-cli station running beside the test, its output in files. It is
// killed when it outlives its wait, so that a test never hangs.
class StationProgram {
public:
    // Its output goes to files of its own in `directory`, so that nothing
    // an earlier run printed is taken for its own.
    StationProgram(std::vector<std::string> args, const std::filesystem::path& directory)
        : m_out(directory / ("station-" + std::to_string(++runs) + ".out")),
          m_err(directory / ("station-" + std::to_string(runs) + ".err")) {
        args.insert(args.begin(), {VELMORIN_CLI, "station"});
        m_pid = testing::StartProgram(args, m_out, m_err);
    }
    ~StationProgram() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    StationProgram(const StationProgram&) = delete;
    StationProgram& operator=(const StationProgram&) = delete;

    std::string Out() const { return testing::ReadText(m_out); }
    std::string Err() const { return testing::ReadText(m_err); }

    // The JSON events printed so far (a line still being written left out).
    Events JsonEvents() const {
        Events events;
        std::istringstream lines(Out());
        for (std::string line; std::getline(lines, line);) {
            auto event = nlohmann::json::parse(line, nullptr, false);
            if (!event.is_discarded()) {
                events.push_back(std::move(event));
            }
        }
        return events;
    }

    // Waits up to 30 s until `seen` holds for the standard output.
    bool WaitFor(const std::function<bool()>& seen) const {
        for (const auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
            if (seen()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return seen();
    }

    void Interrupt() const { ::kill(m_pid, SIGINT); }

    // The exit status, or -1 when it was still running after 60 s and was
    // killed.
    int Wait() {
        int status = 0;
        for (const auto end = Clock::now() + std::chrono::seconds(60); Clock::now() < end;) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return -1;
    }

private:
    static inline int runs = 0;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
    pid_t m_pid = -1;
};

// The events of one kind, of the charger with `serialNumber` (any when
// empty).
Events Only(const Events& events, const std::string& kind, const std::string& serialNumber = {}) {
    Events chosen;
    for (const auto& event : events) {
        if (event["event"] == kind &&
            (serialNumber.empty() || event.value("serial_number", "") == serialNumber)) {
            chosen.push_back(event);
        }
    }
    return chosen;
}

class StationCommandTest : public ::testing::Test {
protected:
    std::filesystem::path Dir() const { return m_devices.Path(); }

    // Starts `velmorin-sim kind` with `args` and a report file named after
    // `name`, and waits until it announces `announced`.
    std::unique_ptr<BackgroundProgram> Charger(const std::string& kind, const std::string& name,
                                               const std::string& announced,
                                               std::vector<std::string> args) {
        std::vector<std::string> command = {VELMORIN_SIM,   kind,
                                            "--dir",        Dir().string(),
                                            "--model-code", "0x2A",
                                            "--report",     Report(name).string(),
                                            "--save",       (Dir() / (name + ".bin")).string()};
        command.insert(command.end(), args.begin(), args.end());
        auto charger = std::make_unique<BackgroundProgram>(command);
        EXPECT_TRUE(testing::WaitForFile(Dir() / announced)) << name << " did not announce itself";
        return charger;
    }

    std::filesystem::path Report(const std::string& name) const {
        return Dir() / (name + "-report.json");
    }
    // What the charger saw, once it is stopped; null when it wrote nothing.
    nlohmann::json ReportOf(const std::string& name) const {
        std::ifstream in(Report(name));
        return in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json();
    }

    std::string Seal(std::size_t length = 2048) {
        m_payload = std::vector<std::uint8_t>(length);
        for (std::size_t i = 0; i < m_payload.size(); ++i) {
            m_payload[i] = static_cast<std::uint8_t>(i * 31 + 5);
        }
        UpdateHeader fields;
        fields.version = "V1.02";
        fields.type = "1010B";
        fields.modelCode = 0x2A;
        const std::string path = (Dir() / "update.bin").string();
        testing::WriteBytes(path, SealUpdateFile(fields, m_payload, SealedForm::WholeFile));
        return path;
    }

    std::vector<LedgerEntry> History() const {
        return ReadLedger(m_state.Path() / "velmorin" / "history.jsonl").entries;
    }

    testing::TempDirectory m_devices;
    testing::TempDirectory m_state;
    testing::ScopedEnvironment m_virtual{"VELMORIN_VIRTUAL_DEVICES", Dir().string()};
    testing::ScopedEnvironment m_stateHome{"XDG_STATE_HOME", m_state.Path().string()};
    std::vector<std::uint8_t> m_payload;
};

// A serial charger is upgraded, then restarts twice (same serial number,
// new process each time): it stays done. The count is reached by a HID
// charger that restarts into its bootloader during its own upgrade.
TEST_F(StationCommandTest, UpgradesEachChargerOnceAndNotAgainWhenItComesBack) {
    const std::string file = Seal();
    auto serial = Charger("serial", "a1", "COM201.json", {"--serial-number", "SA000001"});
    StationProgram station({file, "--count", "2", "--json", "--operator", "Line 4"}, Dir());
    const auto seen = [&station](const std::string& kind, const std::string& serialNumber,
                                 std::size_t count) {
        return station.WaitFor(
            [&] { return Only(station.JsonEvents(), kind, serialNumber).size() >= count; });
    };
    ASSERT_TRUE(seen("finished", "SA000001", 1)) << station.Out() << station.Err();

    for (const std::string name : {"a2", "a3"}) {
        serial.reset();
        ASSERT_TRUE(seen("left", "SA000001", name == "a2" ? 1 : 2)) << station.Out();
        serial = Charger("serial", name, "COM201.json", {"--serial-number", "SA000001"});
        ASSERT_TRUE(seen("arrived", "SA000001", name == "a2" ? 2 : 3)) << station.Out();
    }
    auto hid = Charger("hid", "b", "charger1.json", {"--serial-number", "HB000002"});

    EXPECT_EQ(station.Wait(), 0) << station.Err();
    const Events events = station.JsonEvents();
    EXPECT_EQ(Only(events, "started", "SA000001").size(), 1u) << station.Out();
    EXPECT_EQ(Only(events, "started", "HB000002").size(), 1u) << station.Out();
    const Events finished = Only(events, "finished");
    ASSERT_EQ(finished.size(), 2u) << station.Out();
    for (const auto& event : finished) {
        EXPECT_EQ(event["outcome"], "completed") << event;
        EXPECT_EQ(event["message"].get<std::string>().rfind("Upgrade completion!", 0), 0u);
        EXPECT_GE(event["attempts"], 1);
    }
    EXPECT_FALSE(Only(events, "progress", "HB000002").empty());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), (nlohmann::json{{"event", "tally"},
                                             {"done", 2},
                                             {"failed", 0},
                                             {"failed_runs", 0},
                                             {"in_progress", 0},
                                             {"skipped", 0},
                                             {"busy", 0}}));
    const auto history = History();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].operatorName, "Line 4");

    serial.reset();
    hid.reset();
    EXPECT_EQ(ReportOf("a1")["completed"], 1);
    for (const std::string name : {"a2", "a3"}) {
        EXPECT_EQ(ReportOf(name)["completed"], 0) << name;
        EXPECT_EQ(ReportOf(name)["enter_commands"], 0) << name;
    }
    EXPECT_EQ(ReportOf("b")["completed"], 1);
    EXPECT_EQ(testing::ReadBytes(Dir() / "a1.bin"), m_payload);
    EXPECT_EQ(testing::ReadBytes(Dir() / "b.bin"), m_payload);
}

// Slot names by ID_PATH and by device name reach the events and the
// history; a charger of another model is skipped and never touched.
TEST_F(StationCommandTest, NamesSlotsAndSkipsOtherModels) {
    const std::string file = Seal();
    const std::string idPath = "pci-0000:00:14.0-usb-0:1.2:1.0";
    auto wanted = Charger("serial", "x", "COM201.json", {"--id-path", idPath});
    auto other = Charger("hid", "y", "charger1.json", {"--product", "Varno Kestrion Y"});
    const auto slots = Dir() / "slots.txt";
    std::ofstream(slots) << "# the line's positions\n" << idPath << " = Slot 1\n\nHID0 = Slot 2\n";

    StationProgram station(
        {file, "--model", "Kestrion X", "--slots", slots.string(), "--count", "1", "--json"},
        Dir());
    EXPECT_EQ(station.Wait(), 0) << station.Err();
    const Events events = station.JsonEvents();
    const Events started = Only(events, "started");
    ASSERT_EQ(started.size(), 1u) << station.Out();
    EXPECT_EQ(started[0]["slot"], "Slot 1");
    EXPECT_EQ(started[0]["device"], "COM201");
    EXPECT_EQ(started[0]["model"], "Varno Kestrion X");
    const Events skipped = Only(events, "skipped");
    ASSERT_EQ(skipped.size(), 1u) << station.Out();
    EXPECT_EQ(skipped[0]["slot"], "Slot 2");
    EXPECT_EQ(skipped[0]["model"], "Varno Kestrion Y");
    EXPECT_EQ(events.back()["skipped"], 1);
    const auto history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].slot, "Slot 1");

    other.reset();
    EXPECT_EQ(ReportOf("y")["model_commands"], 0);
}

// A charger whose run failed stays failed while it stays plugged, however
// many scans pass; the station then ends on another charger's completion
// with status 1. Plain lines in a pipe, each with the charger's label.
TEST_F(StationCommandTest, LeavesAFailedChargerAloneWhileItStaysPlugged) {
    const std::string file = Seal();
    auto failing = Charger("hid", "f", "charger1.json", {"--refuse-reply", "100"});
    StationProgram station({file, "--count", "1"}, Dir());
    ASSERT_TRUE(station.WaitFor([&station] {
        return station.Out().find("HID0: failed") != std::string::npos;
    })) << station.Out()
        << station.Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // several scans
    auto good = Charger("serial", "g", "COM201.json", {});

    EXPECT_EQ(station.Wait(), 1) << station.Err();
    const std::string out = station.Out();
    EXPECT_NE(out.find("Version: V1.02\nType: 1010B\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COM201: done: Upgrade completion! [1 attempt, "), std::string::npos) << out;
    EXPECT_NE(out.find("done 1, failed 1, in progress 0, skipped 0\n"), std::string::npos) << out;
    std::size_t starts = 0;
    for (std::size_t at = out.find("HID0: started"); at != std::string::npos;
         at = out.find("HID0: started", at + 1)) {
        ++starts;
    }
    EXPECT_EQ(starts, 1u) << out;
    EXPECT_EQ(History().size(), 2u);

    failing.reset();
    const auto seen = ReportOf("f");
    EXPECT_EQ(seen["completed"], 0);
    // One run's attempts, each opened with a model command (the first to
    // the firmware, the rest to the bootloader) and refused at its reply.
    EXPECT_EQ(seen["model_commands"].get<int>() + seen["model_commands_in_bootloader"].get<int>(),
              kHidAttempts)
        << seen;
}

// A history that cannot take the run's line is told on standard error and
// fails nothing.
TEST_F(StationCommandTest, TellsWhenTheHistoryCannotBeWritten) {
    const std::string file = Seal();
    const auto notAFolder = Dir() / "state-file";
    testing::WriteBytes(notAFolder, {'x'});
    const testing::ScopedEnvironment stateHome("XDG_STATE_HOME", notAFolder.string());
    auto charger = Charger("serial", "a", "COM201.json", {});
    StationProgram station({file, "--count", "1", "--json"}, Dir());
    EXPECT_EQ(station.Wait(), 0) << station.Err();
    EXPECT_NE(station.Err().find("COM201: cannot write the history to "), std::string::npos)
        << station.Err();
    const Events finished = Only(station.JsonEvents(), "finished");
    ASSERT_EQ(finished.size(), 1u) << station.Out();
    EXPECT_EQ(finished[0]["outcome"], "completed");
    EXPECT_EQ(finished[0]["ledger_error"].get<std::string>().rfind("cannot write the history", 0),
              0u);
}

// The first Ctrl-C starts no charger any more and lets the run under way
// end (status 0, its line in the history); a second one ends the program at
// once and leaves the port free for the next run.
TEST_F(StationCommandTest, CtrlCLetsTheRunUnderWayEndAndASecondEndsAtOnce) {
    const std::string file = Seal(16384);  // about two seconds over the serial link
    auto charger = Charger("serial", "a", "COM201.json", {});
    struct Row {
        int interrupts;
        int status;
        std::string error;
    };
    const Row rows[] = {
        {1, 0, "Stopping: 1 upgrade under way is let finish; Ctrl-C again to close it at once.\n"},
        {2, 130, "\nInterrupted: the devices are closed."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.interrupts);
        // The second station upgrades the charger that the first completed
        // with this file only when asked to.
        StationProgram station(row.interrupts == 1 ? std::vector<std::string>{file}
                                                   : std::vector<std::string>{file, "--again"},
                               Dir());
        ASSERT_TRUE(station.WaitFor([&station] {
            return station.Out().find("COM201: progress: 20%") != std::string::npos;
        })) << station.Out()
            << station.Err();
        for (int i = 0; i < row.interrupts; ++i) {
            station.Interrupt();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        EXPECT_EQ(station.Wait(), row.status) << station.Err();
        EXPECT_NE(station.Err().find(row.error), std::string::npos) << station.Err();
        const bool finished = row.status == 0;
        EXPECT_EQ(station.Out().find("COM201: done: Upgrade completion!") != std::string::npos,
                  finished)
            << station.Out();
        EXPECT_EQ(
            station.Out().find("done 1, failed 0, in progress 0, skipped 0\n") != std::string::npos,
            finished)
            << station.Out();
    }
    // The run that finished left its line; the one cut off, a line that
    // says it was interrupted and how far it got.
    const auto history = History();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].outcome, LedgerOutcome::Completed);
    EXPECT_EQ(history[1].outcome, LedgerOutcome::Interrupted);
    EXPECT_EQ(history[1].device, "COM201");
    EXPECT_EQ(history[1].fileSha256.size(), 64u);
    EXPECT_NE(history[0].runId, history[1].runId);
    EXPECT_GE(history[1].attempts, 1);
    EXPECT_GE(history[1].frames, 200u);  // past 20 % of its 1024 frames
    EXPECT_GT(history[1].elapsedMs, 0u);
    EXPECT_NE(history[1].time, "");
    EXPECT_TRUE(ReadLedger(m_state.Path() / "velmorin" / "history.jsonl").warnings.empty());

    const auto again = testing::RunProgram({VELMORIN_CLI, "update", file, "--device", "COM201"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    charger.reset();
    EXPECT_EQ(ReportOf("a")["completed"], 2);
    EXPECT_EQ(testing::ReadBytes(Dir() / "a.bin"), m_payload);
}

// Two stations on one computer, one charger: the second finds it held by
// the first (busy elsewhere, not a failure, no record), then, once the
// first has completed it with the same file, shows it as done before and
// leaves it alone. The charger is upgraded once; neither station fails.
TEST_F(StationCommandTest, TwoStationsOnOneComputerUpgradeAChargerOnce) {
    const std::string file = Seal(32768);  // a few seconds over the serial link
    auto charger = Charger("serial", "a", "COM201.json", {"--serial-number", "SA000001"});
    StationProgram first({file, "--json"}, Dir());
    ASSERT_TRUE(first.WaitFor([&first] {
        return !Only(first.JsonEvents(), "progress", "SA000001").empty();
    })) << first.Out()
        << first.Err();
    StationProgram second({file, "--json"}, Dir());
    ASSERT_TRUE(second.WaitFor([&second] {
        return !Only(second.JsonEvents(), "done-before", "SA000001").empty();
    })) << second.Out()
        << second.Err();
    ASSERT_TRUE(first.WaitFor([&first] {
        return !Only(first.JsonEvents(), "finished", "SA000001").empty();
    })) << first.Out();
    first.Interrupt();
    second.Interrupt();
    EXPECT_EQ(first.Wait(), 0) << first.Err();
    EXPECT_EQ(second.Wait(), 0) << second.Err();

    const Events seen = second.JsonEvents();
    for (const auto& finished : Only(seen, "finished")) {
        // A run of the second station can only have found the port held.
        EXPECT_EQ(finished["message"].get<std::string>().rfind("busy elsewhere", 0), 0u)
            << finished;
    }
    const auto doneBefore = Only(seen, "done-before", "SA000001");
    ASSERT_EQ(doneBefore.size(), 1u);
    EXPECT_EQ(doneBefore[0]["message"].get<std::string>().rfind("done before (", 0), 0u);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back()["failed"], 0) << seen.back();
    EXPECT_EQ(seen.back()["skipped"], 1) << seen.back();
    EXPECT_EQ(Only(first.JsonEvents(), "tally").at(0)["done"], 1);

    const auto history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].outcome, LedgerOutcome::Completed);
    charger.reset();
    EXPECT_EQ(ReportOf("a")["completed"], 1);
}

// What is wrong before the station starts: a slots file that cannot be read
// or parsed (status 2, the file and line named) and a rejected update file
// (status 1, the header check's reason).
TEST_F(StationCommandTest, RefusesBadInputBeforeStarting) {
    const std::string file = Seal();
    const auto badSlots = Dir() / "bad-slots.txt";
    std::ofstream(badSlots) << "COM201 = Slot 1\nSlot 2\n";
    const auto missing = Dir() / "missing.txt";
    const auto garbage = Dir() / "garbage.bin";
    testing::WriteBytes(garbage, std::vector<std::uint8_t>(600, 0x5A));
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string error;
    };
    const Row rows[] = {
        {{file, "--slots", missing.string()}, 2, "cannot read the slots file " + missing.string()},
        {{file, "--slots", badSlots.string()}, 2, badSlots.string() + ": line 2 is not"},
        {{garbage.string(), "--count", "1"}, 1, "File format error!"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        StationProgram station(row.args, Dir());
        EXPECT_EQ(station.Wait(), row.status);
        EXPECT_NE(station.Err().find(row.error), std::string::npos) << station.Err();
        EXPECT_EQ(station.Out().find("started"), std::string::npos) << station.Out();
    }
    EXPECT_TRUE(History().empty());
}

}  // namespace
}  // namespace velmorin
