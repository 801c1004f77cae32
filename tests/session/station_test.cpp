// SPDX-License-Identifier: MIT
// The station's rules over a device list that the test sets: who is
// started, who is skipped, that a failed charger waits to be plugged back
// before it is tried again, that devices listed together are never merged,
// that the history's completions with the same file are not upgraded again,
// that a file changed on disk is noticed and not taken, and the tally. The
// runs are real upgrades of ports that do not exist, so each fails at its
// open.
#include "session/station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "device/virtual/virtual_devices.h"
#include "image/sha256.h"
#include "image/update_sealer.h"
#include "session/ledger.h"
#include "support/test_files.h"

namespace velmorin {
namespace {

TEST(SlotNames, ReadsPairsAndNamesByPathFirst) {
    struct Row {
        const char* name;
        const char* text;
        bool valid;
        const char* errorHas;
    };
    const Row rows[] = {
        {"pairs, comments, blanks", "# line A\n\nCOM65 = Slot 3\r\npci-0:1.2:1.0=Slot 1\n", true,
         ""},
        {"no equals sign", "COM65 Slot 3\n", false, "line 1"},
        {"no name", "# ok\nCOM65 =  \n", false, "line 2"},
        {"no key", " = Slot 3\n", false, "line 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string error;
        const auto names = SlotNames::Parse(row.text, error);
        EXPECT_EQ(names.has_value(), row.valid);
        EXPECT_NE(error.find(row.errorHas), std::string::npos) << error;
    }
    std::string error;
    const auto names = SlotNames::Parse("COM65 = Slot 3\npci-0:1.2:1.0 = Slot 1\n", error);
    ASSERT_TRUE(names.has_value());
    DeviceEntry device{"Varno Kestrion X", "S1", "COM65", false, ""};
    EXPECT_EQ(names->NameFor(device), "Slot 3");
    device.physicalPath = "pci-0:1.2:1.0";
    EXPECT_EQ(names->NameFor(device), "Slot 1");  // where it is plugged in wins
    device = {"Varno Kestrion X", "S1", "COM66", false, "pci-0:9"};
    EXPECT_EQ(names->NameFor(device), "");
    EXPECT_FALSE(SlotNames::Read("/no/such/slots", error).has_value());
    EXPECT_NE(error.find("/no/such/slots"), std::string::npos);
}

DiscoveredDevice Charger(const std::string& port, const std::string& model,
                         const std::string& serial) {
    DiscoveredDevice record;
    record.portName = port;
    record.friendlyName = model + " (" + port + ")";
    record.isUsbDevice = 1;
    record.busDescription = model;
    record.devicePath = "\\\\?\\usb#vid_0483&pid_5740#" + serial + "#/dev/null";
    return record;
}

// Keeps the records and notices the station reports.
class Recorder : public StationListener {
public:
    void OnChargerChanged(const StationCharger& charger, StationChange change) override {
        const std::lock_guard lock(m_mutex);
        last[charger.id] = charger;
        changes.emplace_back(charger.id, change);
    }
    void OnNotice(std::string_view text) override {
        const std::lock_guard lock(m_mutex);
        notices.emplace_back(text);
    }
    std::mutex m_mutex;
    std::map<int, StationCharger> last;
    std::vector<std::pair<int, StationChange>> changes;
    std::vector<std::string> notices;
};

// A station over a device list the test sets, with a sealed update file
// and a history of its own. No virtual devices: every run fails at its open.
class StationTest : public ::testing::Test {
protected:
    StationTest() { WriteFile("V1.00", 7); }

    void WriteFile(const std::string& version, std::uint8_t seed) {
        UpdateHeader fields;
        fields.version = version;
        fields.type = "1010B";
        fields.modelCode = 1;
        testing::WriteBytes(FilePath(), SealUpdateFile(fields, std::vector<std::uint8_t>(504, seed),
                                                       SealedForm::WholeFile));
    }
    std::filesystem::path FilePath() const { return m_directory.Path() / "update.bin"; }
    std::filesystem::path LedgerPath() const { return m_directory.Path() / "history.jsonl"; }

    Station& Open(StationSettings settings = {}) {
        settings.batch.filePath = FilePath().string();
        m_station = std::make_unique<Station>(std::move(settings), m_devices, recorder, m_journal);
        return *m_station;
    }
    // Lists `devices` and lets the station look at them.
    void List(std::vector<DiscoveredDevice> devices) {
        m_listed = std::move(devices);
        m_devices.Rebuild();
        m_station->Scan();
        m_station->WaitForRuns();
    }
    std::vector<StationCharger> ByPort(const std::string& port) const {
        std::vector<StationCharger> found;
        for (const StationCharger& c : m_station->Chargers()) {
            if (c.device.deviceName == port) {
                found.push_back(c);
            }
        }
        return found;
    }

    testing::TempDirectory m_directory;
    testing::ScopedEnvironment m_devicesVariable{kVirtualDevicesVariable,
                                                 m_directory.Path().string()};
    std::vector<DiscoveredDevice> m_listed;
    LiveDeviceTable m_devices{
        false, [this](std::vector<DiscoveredDevice>& records, bool) { records = m_listed; }, false};
    RunJournal m_journal{LedgerPath()};
    Recorder recorder;
    std::unique_ptr<Station> m_station;
};

TEST_F(StationTest, StartsArrivalsOnceSkipsOtherModelsAndRetriesOnlyAfterAReplug) {
    std::string error;
    StationSettings settings;
    settings.model = "Kestrion X";
    settings.slotNames = *SlotNames::Parse("COM250 = Slot 1\n", error);
    Station& station = Open(settings);
    const auto charger = [&station](const std::string& serial) {
        for (const StationCharger& c : station.Chargers()) {
            if (c.device.serialText == serial) {
                return c;
            }
        }
        return StationCharger{};
    };
    List(
        {Charger("COM250", "Varno Kestrion X", "S1"), Charger("COM251", "Varno Kestrion Y", "S2")});
    EXPECT_EQ(charger("S1").label, "Slot 1");
    EXPECT_EQ(charger("S1").state, StationState::Failed);
    EXPECT_EQ(charger("S1").runs, 1);
    EXPECT_FALSE(charger("S1").message.empty());
    EXPECT_EQ(charger("S2").label, "COM251");
    EXPECT_EQ(charger("S2").state, StationState::Skipped);
    EXPECT_EQ(charger("S2").runs, 0);
    EXPECT_EQ(station.Tally(), (StationTally{0, 1, 1, 0, 1, 0}));

    // Still plugged: not tried again.
    List(m_listed);
    EXPECT_EQ(charger("S1").runs, 1);

    // Unplugged: still failed, tried again when it is back, and counted as
    // failed all along: the shift's tally does not forget it.
    List({Charger("COM251", "Varno Kestrion Y", "S2")});
    EXPECT_EQ(charger("S1").state, StationState::Failed);
    EXPECT_FALSE(charger("S1").present);
    EXPECT_EQ(station.Tally(), (StationTally{0, 1, 1, 0, 1, 0}));
    EXPECT_EQ(station.Tally().ExitStatus(), 1);
    List(
        {Charger("COM251", "Varno Kestrion Y", "S2"), Charger("COM250", "Varno Kestrion X", "S1")});
    EXPECT_EQ(charger("S1").runs, 2);
    EXPECT_EQ(charger("S1").state, StationState::Failed);
    EXPECT_EQ(station.Tally(), (StationTally{0, 1, 2, 0, 1, 0}));

    // Stopped: a new arrival is listed but not started.
    station.StopStarting();
    m_listed.push_back(Charger("COM252", "Varno Kestrion X", "S3"));
    List(m_listed);
    EXPECT_EQ(charger("S3").state, StationState::Waiting);
    EXPECT_EQ(charger("S3").runs, 0);
    EXPECT_EQ(recorder.last.count(charger("S3").id), 1u);
}

TEST_F(StationTest, DevicesListedTogetherAreTwoChargersWhateverTheirSerialNumbers) {
    Open();
    // Two adapters that share a serial number: both are started.
    List(
        {Charger("COM250", "Varno Kestrion X", "S1"), Charger("COM251", "Varno Kestrion X", "S1")});
    ASSERT_EQ(m_station->Chargers().size(), 2u);
    EXPECT_EQ(ByPort("COM250").at(0).runs, 1);
    EXPECT_EQ(ByPort("COM251").at(0).runs, 1);
    EXPECT_NE(ByPort("COM250").at(0).id, ByPort("COM251").at(0).id);
    EXPECT_EQ(m_station->Tally().failed, 2);

    // Listed under other names (a neighbour's restart moved them): the same
    // chargers, still failed, not tried again.
    List(
        {Charger("COM251", "Varno Kestrion X", "S1"), Charger("COM252", "Varno Kestrion X", "S1")});
    ASSERT_EQ(m_station->Chargers().size(), 2u);
    for (const StationCharger& charger : m_station->Chargers()) {
        EXPECT_EQ(charger.runs, 1) << charger.device.deviceName;
        EXPECT_EQ(charger.state, StationState::Failed);
        EXPECT_TRUE(charger.present);
    }

    // Without a serial number a charger cannot be known again: the next one
    // put in the same place is a charger of its own and is started.
    List({Charger("COM253", "Varno Kestrion X", "")});
    List({});
    List({Charger("COM253", "Varno Kestrion X", "")});
    const std::vector<StationCharger> atPlace = ByPort("COM253");
    ASSERT_EQ(atPlace.size(), 2u);
    EXPECT_EQ(atPlace[0].runs, 1);
    EXPECT_EQ(atPlace[1].runs, 1);
    EXPECT_FALSE(atPlace[0].present);
    EXPECT_TRUE(atPlace[1].present);
}

TEST_F(StationTest, ChargersDoneBeforeWithThisFileAreNotUpgradedAgain) {
    const std::string digest = Sha256Hex(testing::ReadBytes(FilePath()));
    const auto completed = [&](const std::string& serial, const std::string& sha256) {
        LedgerEntry entry;
        entry.runId = NewRunId();
        entry.time = "2026-12-10T08:00:00Z";
        entry.station = "line-7";
        entry.model = "Varno Kestrion X";
        entry.serialNumber = serial;
        entry.fileSha256 = sha256;
        entry.outcome = LedgerOutcome::Completed;
        ASSERT_EQ(AppendToLedger(LedgerPath(), entry), "");
    };
    completed("S1", digest);
    completed("S2", std::string(64, '0'));  // another file

    struct Row {
        const char* name;
        bool again;
        std::vector<DiscoveredDevice> listed;
        std::vector<int> runs;  // by listed device
    };
    const Row rows[] = {
        {"done before with this file; another file does not count",
         false,
         {Charger("COM250", "Varno Kestrion X", "S1"), Charger("COM251", "Varno Kestrion X", "S2")},
         {0, 1}},
        {"upgraded again when asked", true, {Charger("COM250", "Varno Kestrion X", "S1")}, {1}},
        {"two listed at once with that serial number: the history cannot tell which",
         false,
         {Charger("COM250", "Varno Kestrion X", "S1"), Charger("COM251", "Varno Kestrion X", "S1")},
         {1, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StationSettings settings;
        settings.again = row.again;
        Open(settings);
        List(row.listed);
        for (std::size_t i = 0; i < row.listed.size(); ++i) {
            const StationCharger charger = ByPort(row.listed[i].portName).at(0);
            EXPECT_EQ(charger.runs, row.runs[i]) << row.listed[i].portName;
            if (row.runs[i] == 0) {
                EXPECT_EQ(charger.state, StationState::Done);
                EXPECT_TRUE(charger.doneBefore);
                EXPECT_EQ(charger.message, "done before (2026-12-10T08:00:00Z, line-7)");
            }
        }
        const StationTally tally = m_station->Tally();
        EXPECT_EQ(tally.done, 0);
        EXPECT_EQ(
            tally.skipped,
            row.again ? 0 : static_cast<int>(std::count(row.runs.begin(), row.runs.end(), 0)));
        List({});
    }
}

TEST_F(StationTest, FileChangedOnDiskIsNoticedAndNotTaken) {
    Station& station = Open();
    const std::string pinned = station.File().Description().sha256;
    List({});
    EXPECT_TRUE(recorder.notices.empty());
    // The same bytes written again are no change.
    const std::vector<std::uint8_t> same = testing::ReadBytes(FilePath());
    std::filesystem::remove(FilePath());
    testing::WriteBytes(FilePath(), same);
    List({});
    EXPECT_TRUE(recorder.notices.empty());

    WriteFile("V2.00", 9);
    List({Charger("COM250", "Varno Kestrion X", "S1")});
    List({Charger("COM250", "Varno Kestrion X", "S1")});
    ASSERT_EQ(recorder.notices.size(), 1u);
    EXPECT_EQ(recorder.notices[0],
              "the file changed on disk; still writing V1.00 as shown; Stop and Start to take the "
              "new one");
    EXPECT_EQ(station.File().Description().version, "V1.00");
    // The run that started after the change records the pinned bytes.
    const LedgerContents history = ReadLedger(LedgerPath());
    ASSERT_EQ(history.entries.size(), 1u);
    EXPECT_EQ(history.entries[0].fileSha256, pinned);
    EXPECT_EQ(history.entries[0].fileVersion, "V1.00");
}

}  // namespace
}  // namespace velmorin
