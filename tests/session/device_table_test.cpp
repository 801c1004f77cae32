// SPDX-License-Identifier: MIT
// The device table built from discovery records: which records become
// entries, with which names, serial numbers and list lines.
#include "session/device_table.h"

#include <gtest/gtest.h>

#include "device/port_discovery.h"
#include "device/virtual/virtual_devices.h"
#include "session/device_list.h"
#include "session/single_instance.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

TEST(DeviceTable, SerialFieldAndBracketedName) {
    const std::pair<const char*, const char*> serialFields[] = {
        {"\\\\?\\usb#vid_0403&pid_6001#0001A2B3#/dev/ttyUSB0", "0001A2B3"},
        {"##HX000123", "HX000123"},
        {"##", ""},
        {"a#b", ""},
        {"no hashes", ""},
        {"a#b#c", "c"},
    };
    for (const auto& [path, field] : serialFields) {
        EXPECT_EQ(SerialFieldOfDevicePath(path), field) << path;
    }
    const std::pair<const char*, const char*> names[] = {
        {"USB Serial Port (COM3)", "COM3"},
        {"Varno USB(HID2)", "HID2"},
        {"COM5", ""},
        {"Port (A) (COM3)", "A"},
        {"Open (COM4", ""},
        {"Close) (COM4)", "COM4"},
        {"()", ""},
    };
    for (const auto& [friendlyName, name] : names) {
        EXPECT_EQ(BracketedName(friendlyName), name) << friendlyName;
    }
}

DiscoveredDevice Record(const std::string& friendlyName, std::int32_t isUsbDevice,
                        const std::string& bus = "", const std::string& path = "") {
    DiscoveredDevice record;
    record.friendlyName = friendlyName;
    record.isUsbDevice = isUsbDevice;
    record.busDescription = bus;
    record.devicePath = path;
    return record;
}

TEST(DeviceTable, ChargersPlainPortsAndRoom) {
    const std::vector<DiscoveredDevice> records = {
        Record("Communications Port (COM1)", 0),
        Record("USB Serial Port (COM7)", 1, "Varno ABC", "\\\\?\\usb#vid#0001A2B3#/dev/ttyUSB0"),
        Record("Varno USB(HID2)", 1, "Varno Kestrion X", "##HX1"),
        Record("Odd charger", 1, "Varno Odd", "##"),
        Record("Not a charger (COM9)", 2),  // only exactly 1 marks a charger
    };
    DeviceTable table;
    EXPECT_EQ(
        table.Fill(records, false),
        (std::vector<std::string>{"Type: Varno ABC, S/N:0001A2B3",
                                  "Type: Varno Kestrion X, S/N:HX1", "Type: Varno Odd, S/N:"}));
    EXPECT_EQ(table.Count(), 3);
    EXPECT_EQ(table.At(0).deviceName, "COM7");
    EXPECT_EQ(table.At(1).deviceName, "HID2");
    EXPECT_EQ(table.At(2).deviceName, "");  // listed; opening it will fail
    EXPECT_FALSE(table.At(0).IsPlainPort());
    EXPECT_EQ(table.IndexOf("hid2"), 1);  // names compare as the parser reads them
    EXPECT_EQ(table.IndexOf("COM9"), -1);

    EXPECT_EQ(table.Fill(records, true).size(), 5u);
    EXPECT_EQ(table.At(0).modelText, "COMx");
    EXPECT_TRUE(table.At(0).IsPlainPort());
    EXPECT_EQ(table.At(4).deviceName, "COM9");
    EXPECT_EQ(table.IndexOf("COM9"), 4);

    // The table has room for 32 entries; further devices are not listed.
    const std::vector<DiscoveredDevice> many(40,
                                             Record("USB Serial Port (COM7)", 1, "Varno", "##1"));
    EXPECT_EQ(table.Fill(many, false).size(), 32u);
    EXPECT_EQ(table.Count(), 32);
    EXPECT_TRUE(table.Fill({}, true).empty());
    EXPECT_EQ(table.Count(), 0);
    EXPECT_TRUE(table.Entries().empty());
    EXPECT_EQ(table.IndexOf("COM7"), -1);
    // A selection that the rebuild left behind still reads its slot's device;
    // past the slots there is nothing.
    EXPECT_EQ(table.At(31).deviceName, "COM7");
    EXPECT_EQ(table.At(32).deviceName, "");
    EXPECT_EQ(table.At(-1).deviceName, "");
}

// A port given by name joins the table as a plain port under its canonical
// name; other names, and a full table, are refused.
TEST(DeviceTable, PortsGivenByName) {
    DeviceTable table;
    table.Fill({Record("USB Serial Port (COM7)", 1, "Varno ABC", "##0001A2B3#/dev/ttyUSB0")},
               false);
    struct Row {
        const char* name;
        int index;  // -1: refused
        const char* listedAs;
    };
    const Row rows[] = {
        {"com5", 1, "COM5"},     {"COM5", 1, "COM5"}, {"COM7", 0, "COM7"},  // listed already
        {"COM256", 2, "COM256"}, {"COM257", -1, ""},  {"COMx", -1, ""},
        {"HID0", -1, ""},        {"ttyUSB0", -1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(table.AddNamedPort(row.name), row.index);
        if (row.index >= 0) {
            EXPECT_EQ(table.At(row.index).deviceName, row.listedAs);
        }
    }
    EXPECT_EQ(table.Count(), 3);
    EXPECT_TRUE(table.At(1).IsPlainPort());
    EXPECT_EQ(table.At(0).modelText, "Varno ABC");  // the charger's entry is left as it was

    const std::vector<DiscoveredDevice> many(32, Record("Communications Port (COM1)", 0));
    table.Fill(many, true);
    EXPECT_EQ(table.AddNamedPort("COM5"), -1);
}

// The refresh rules: the list and the Update button follow the table only
// while the list is live; no device always disables Update.
TEST(DeviceList, RefreshRules) {
    testing::TempDirectory directory;
    const testing::ScopedEnvironment environment(kVirtualDevicesVariable,
                                                 directory.Path().string());
    // Machines may have ports of their own; only chargers are listed here.
    struct Row {
        bool charger;
        bool live;
        bool fileAccepted;
        bool rewrite;
        UpdateButtonChange button;
    };
    const Row rows[] = {
        {false, true, true, true, UpdateButtonChange::Disable},
        {false, false, true, false, UpdateButtonChange::Disable},
        {true, true, true, true, UpdateButtonChange::Enable},
        {true, true, false, true, UpdateButtonChange::Leave},
        {true, false, true, false, UpdateButtonChange::Leave},
    };
    for (const Row& row : rows) {
        std::unique_ptr<testing::PtyPeer> charger;
        if (row.charger) {
            charger = std::make_unique<testing::PtyPeer>(directory.Path(), 201);
        }
        DeviceTable table;
        const DeviceListRefresh refresh =
            RefreshDeviceTable(table, EnumeratePorts, false, row.live, row.fileAccepted);
        EXPECT_EQ(refresh.rewriteList, row.rewrite);
        EXPECT_EQ(refresh.selectFirst, row.rewrite);
        EXPECT_EQ(refresh.updateButton, row.button);
        if (row.rewrite) {
            EXPECT_EQ(refresh.lines,
                      std::vector<std::string>{row.charger ? "Type: Varno Test, S/N:TCOM201"
                                                           : "Device not found!"});
        } else {
            EXPECT_TRUE(refresh.lines.empty());
        }
        EXPECT_EQ(table.Count(), row.charger ? 1 : 0);  // the table follows in every case
        std::filesystem::remove(directory.Path() / "COM201.json");
    }
}

TEST(SingleInstance, SecondHolderOfTheSameNameIsRefused) {
    testing::TempDirectory directory;
    const testing::ScopedEnvironment environment("XDG_RUNTIME_DIR", directory.Path().string());
    const SingleInstance first("velmorin-test");
    EXPECT_TRUE(first.IsFirst());
    EXPECT_FALSE(SingleInstance("velmorin-test").IsFirst());
    EXPECT_TRUE(SingleInstance("velmorin-other").IsFirst());
}

}  // namespace
}  // namespace velmorin
