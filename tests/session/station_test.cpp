// SPDX-License-Identifier: MIT
// The station's rules over a device list that the test sets: who is
// started, who is skipped, that a failed charger waits to be plugged back
// before it is tried again, and the slot names it is shown under. The runs
// are real upgrades of ports that do not exist, so each fails at its open.
#include "session/station.h"

#include <gtest/gtest.h>

#include <mutex>

#include "device/virtual/virtual_devices.h"
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

// Keeps the records the station reports.
class Recorder : public StationListener {
public:
    void OnChargerChanged(const StationCharger& charger) override {
        const std::lock_guard lock(m_mutex);
        last[charger.key] = charger;
    }
    std::mutex m_mutex;
    std::map<std::string, StationCharger> last;
};

TEST(Station, StartsArrivalsOnceSkipsOtherModelsAndRetriesOnlyAfterAReplug) {
    const testing::TempDirectory directory;  // no virtual devices: every open fails
    const testing::ScopedEnvironment devicesVariable(kVirtualDevicesVariable,
                                                     directory.Path().string());
    testing::WriteBytes(directory.Path() / "update.bin", std::vector<std::uint8_t>(600, 1));
    std::vector<DiscoveredDevice> listed = {Charger("COM250", "Varno Kestrion X", "S1"),
                                            Charger("COM251", "Varno Kestrion Y", "S2")};
    LiveDeviceTable devices(
        false, [&listed](std::vector<DiscoveredDevice>& records, bool) { records = listed; },
        false);
    std::string error;
    StationSettings settings;
    settings.batch.filePath = (directory.Path() / "update.bin").string();
    settings.model = "Kestrion X";
    settings.slotNames = *SlotNames::Parse("COM250 = Slot 1\n", error);
    Recorder recorder;
    Station station(settings, devices, recorder);

    const auto charger = [&station](const std::string& serial) {
        for (const StationCharger& c : station.Chargers()) {
            if (c.device.serialText == serial) {
                return c;
            }
        }
        return StationCharger{};
    };
    station.Scan();
    station.WaitForRuns();
    EXPECT_EQ(charger("S1").label, "Slot 1");
    EXPECT_EQ(charger("S1").state, StationState::Failed);
    EXPECT_EQ(charger("S1").runs, 1);
    EXPECT_FALSE(charger("S1").message.empty());
    EXPECT_EQ(charger("S2").label, "COM251");
    EXPECT_EQ(charger("S2").state, StationState::Skipped);
    EXPECT_EQ(charger("S2").runs, 0);
    StationTally tally = station.Tally();
    EXPECT_EQ(tally.failed, 1);
    EXPECT_EQ(tally.skipped, 1);
    EXPECT_EQ(tally.done + tally.inProgress, 0);

    // Still plugged: not tried again.
    station.Scan();
    station.WaitForRuns();
    EXPECT_EQ(charger("S1").runs, 1);

    // Unplugged: waiting, and tried again when it is back.
    listed.erase(listed.begin());
    devices.Rebuild();
    station.Scan();
    EXPECT_EQ(charger("S1").state, StationState::Waiting);
    EXPECT_FALSE(charger("S1").present);
    listed.push_back(Charger("COM250", "Varno Kestrion X", "S1"));
    devices.Rebuild();
    station.Scan();
    station.WaitForRuns();
    EXPECT_EQ(charger("S1").runs, 2);
    EXPECT_EQ(charger("S1").state, StationState::Failed);

    // Stopped: a new arrival is listed but not started.
    station.StopStarting();
    listed.push_back(Charger("COM252", "Varno Kestrion X", "S3"));
    devices.Rebuild();
    station.Scan();
    EXPECT_EQ(charger("S3").state, StationState::Waiting);
    EXPECT_EQ(charger("S3").runs, 0);
    EXPECT_EQ(recorder.last.count(StationKey(charger("S3").device)), 1u);
}

}  // namespace
}  // namespace velmorin
