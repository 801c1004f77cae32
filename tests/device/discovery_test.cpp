// SPDX-License-Identifier: MIT
// Discovery over umockdev's test bed: real libudev and hidapi code reading a
// mocked sysfs, plus virtual devices. Runs under umockdev-wrapper.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "device/device_channel.h"
#include "device/device_watcher.h"
#include "device/hid_discovery.h"
#include "device/port_discovery.h"
#include "device/serial_node.h"
#include "device/virtual/virtual_devices.h"
#include "session/device_table.h"
#include "support/mocked_system.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

class DiscoveryTest : public ::testing::Test {
protected:
    testing::TempDirectory m_virtualDirectory;
    testing::ScopedEnvironment m_environment{kVirtualDevicesVariable,
                                             m_virtualDirectory.Path().string()};
    testing::MockedSystem m_system;
};

struct ExpectedRecord {
    std::string friendlyName;
    std::int32_t isUsbDevice;
    std::string description;
    std::string busDescription;
    std::string serialField;
    std::string node;
};

TEST_F(DiscoveryTest, SerialPortsAndTheChargersAmongThem) {
    m_system.AddNativeSerial("ttyS0", "0");  // no UART behind it
    m_system.AddNativeSerial("ttyS1", "4");
    m_system.AddUsbSerial("ttyUSB0", {"0403", "6001", "Varno Kestrion X", "0001A2B3"}, "",
                          "pci-0000:00:14.0-usb-0:1.1:1.0");
    m_system.AddUsbSerial("ttyUSB1", {"0483", "5740", "USB Device 1010B", "ZZ9"});
    m_system.AddUsbSerial("ttyACM0", {"2341", "0043", "varno kestrion", "L1"});
    m_system.AddUsbSerial("ttyUSB2", {"0403", "6015", std::nullopt, std::nullopt}, "FT231X");
    m_system.AddUsbSerial("ttyUSB3", {"0403", "6001", "Varno #7", "A#B"});
    m_system.AddConsole("tty0");

    std::vector<DiscoveredDevice> list;
    EnumeratePorts(list, false);
    const std::vector<ExpectedRecord> expected = {
        {"Communications Port (COM2)", 0, "Communications Port", "", "0", "/dev/ttyS1"},
        {"Varno Kestrion X (COM33)", 1, "USB Serial Port", "Varno Kestrion X", "0001A2B3",
         "/dev/ttyUSB0"},
        {"USB Device 1010B (COM34)", 1, "USB Serial Port", "USB Device 1010B", "ZZ9",
         "/dev/ttyUSB1"},
        // No product: the udev model; no serial number: the USB port.
        {"FT231X (COM35)", 0, "USB Serial Port", "", "1-ae", "/dev/ttyUSB2"},
        {"Varno #7 (COM36)", 1, "USB Serial Port", "Varno #7", "A_B", "/dev/ttyUSB3"},
        {"varno kestrion (COM65)", 0, "USB Serial Device", "varno kestrion", "L1", "/dev/ttyACM0"},
    };
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(expected[i].friendlyName);
        EXPECT_EQ(list[i].friendlyName, expected[i].friendlyName);
        EXPECT_EQ(list[i].isUsbDevice, expected[i].isUsbDevice);
        EXPECT_EQ(list[i].description, expected[i].description);
        EXPECT_EQ(list[i].busDescription, expected[i].busDescription);
        EXPECT_EQ(SerialFieldOfDevicePath(list[i].devicePath), expected[i].serialField);
        EXPECT_EQ(DeviceNodeOfPath(list[i].devicePath), expected[i].node);
        // Where it is plugged in, for the station's slot names.
        EXPECT_EQ(list[i].physicalPath, i == 1 ? "pci-0000:00:14.0-usb-0:1.1:1.0" : "");
    }

    // The list the operator sees, chargers only and with plain ports.
    DeviceTable table;
    std::vector<std::string> lines = table.Fill(list, false);
    EXPECT_EQ(lines, (std::vector<std::string>{"Type: Varno Kestrion X, S/N:0001A2B3",
                                               "Type: USB Device 1010B, S/N:ZZ9",
                                               "Type: Varno #7, S/N:A_B"}));
    EXPECT_EQ(table.At(0).deviceName, "COM33");
    lines = table.Fill(list, true);
    EXPECT_EQ(lines.front(), "Communications Port (COM2)");
    EXPECT_EQ(table.Count(), 6);
    EXPECT_TRUE(table.At(0).IsPlainPort());
    EXPECT_EQ(table.At(0).deviceName, "COM2");
}

TEST_F(DiscoveryTest, HidChargersByIdentityAndIndex) {
    const std::string longSerial(200, 'S');
    m_system.AddHid({"046d", "c31c", "Keyboard", "K1"});
    m_system.AddHid({"0483", "574f", "Varno Below", "B1"});
    m_system.AddHid({"0483", "5760", "Varno Above", "A1"});
    m_system.AddHid({"0483", "5750", "Varno Kestrion X", "HX1"}, "pci-0000:00:14.0-usb-0:2:1.0");
    m_system.AddHid({"1234", "5750", "Foreign", "F1"});
    m_system.AddHid({"0483", "575f", "Varno Kestrion Y", ""});
    m_system.AddHid({"0483", "5755", "Varno Kestrion Z", longSerial});
    testing::HidSocketPeer virtualCharger(m_virtualDirectory.Path(), "charger", 0x0483, 0x5751,
                                          "Varno Virtual", "V1");

    std::vector<DiscoveredDevice> list(1);  // HID discovery appends; it does not empty the list
    EnumerateHidChargers(list);
    struct Row {
        std::int32_t index;
        std::string devicePath;
        std::string product;
    };
    const std::vector<Row> expected = {
        {3, "##HX1", "Varno Kestrion X"},
        {5, "##", "Varno Kestrion Y"},
        {6, "##" + longSerial.substr(0, 128), "Varno Kestrion Z"},
        {7, "##V1", "Varno Virtual"},
    };
    ASSERT_EQ(list.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const DiscoveredDevice& record = list[i + 1];
        SCOPED_TRACE(record.friendlyName);
        EXPECT_EQ(record.hidIndex, expected[i].index);
        EXPECT_EQ(record.friendlyName, "Varno USB(HID" + std::to_string(expected[i].index) + ")");
        EXPECT_EQ(record.devicePath, expected[i].devicePath);
        EXPECT_EQ(record.busDescription, expected[i].product);
        EXPECT_EQ(record.isUsbDevice, 1);
        EXPECT_EQ(record.physicalPath, i == 0 ? "pci-0000:00:14.0-usb-0:2:1.0" : "");
    }

    // The device name derived from the record opens that very interface.
    DeviceTable table;
    std::vector<std::string> lines = table.Fill({list.begin() + 1, list.end()}, false);
    EXPECT_EQ(lines[1], "Type: Varno Kestrion Y, S/N:");
    EXPECT_EQ(table.At(3).deviceName, "HID7");
    DeviceChannel channel;
    ASSERT_TRUE(channel.Open(table.At(3).deviceName, 0));
    EXPECT_TRUE(virtualCharger.Accept());
}

TEST_F(DiscoveryTest, NothingAttached) {
    std::vector<DiscoveredDevice> list;
    EnumeratePorts(list, true);
    EXPECT_TRUE(list.empty());
    DeviceTable table;
    EXPECT_TRUE(table.Fill(list, true).empty());
    EXPECT_EQ(table.Count(), 0);
}

TEST_F(DiscoveryTest, VirtualPortsComeLastAndTheProbeDropsBusyOrMissingOnes) {
    m_system.AddUsbSerial("ttyUSB0", {"0403", "6001", "Varno Kestrion X", "0001A2B3"});
    const testing::PtyPeer free(m_virtualDirectory.Path(), 201);
    const testing::PtyPeer busy(m_virtualDirectory.Path(), 203);
    std::ofstream(m_virtualDirectory.Path() / "COM202.json")
        << R"json({"kind":"serial","port":"COM202","node":"/nonexistent/tty",
                   "friendly_name":"Gone (COM202)","bus_description":"Varno Gone"})json";
    std::ofstream(m_virtualDirectory.Path() / "broken.json") << R"({"kind":"serial","port":)";
    std::ofstream(m_virtualDirectory.Path() / "odd.json") << R"([1, 2, 3])";
    std::ofstream(m_virtualDirectory.Path() / "wrong-types.json")
        << R"({"kind": 5, "port": ["COM204"], "node": 7})";
    // Another program holds COM203 (the channel takes the same lock; its
    // termios calls are not open to it under the mocked /dev).
    const int holder = ::open(busy.Node().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const auto names = [](bool probe) {
        std::vector<DiscoveredDevice> list;
        EnumeratePorts(list, probe);
        std::vector<std::string> friendlyNames;
        for (const auto& record : list) {
            friendlyNames.push_back(record.friendlyName);
        }
        return friendlyNames;
    };
    // A description whose node is gone is no device, probe or not.
    EXPECT_EQ(names(false),
              (std::vector<std::string>{"Varno Kestrion X (COM33)", "Test Charger (COM201)",
                                        "Test Charger (COM203)"}));
    // The mocked ttyUSB0 has no node to open, so the probe drops it too.
    EXPECT_EQ(names(true), (std::vector<std::string>{"Test Charger (COM201)"}));
    ::close(holder);
}

// The device name is the port's own COMn, whatever the product text around
// it holds: a bracket in a product must not become the device name.
TEST_F(DiscoveryTest, DeviceNamesAreThePortsOwnWhateverTheProductSays) {
    m_system.AddUsbSerial("ttyUSB0", {"0403", "6001", "Varno Kestrion (2A)", "S1"});
    const testing::PtyPeer charger(m_virtualDirectory.Path(), 201);
    std::ofstream(m_virtualDirectory.Path() / "COM201.json")
        << R"json({"kind":"serial","port":"COM201","node":")json" << charger.Node()
        << R"json(","friendly_name":"Kestrion (B) (COM201)","bus_description":"Varno (B)"})json";

    std::vector<DiscoveredDevice> list;
    EnumeratePorts(list, false);
    DeviceTable table;
    EXPECT_EQ(table.Fill(list, true), (std::vector<std::string>{"Type: Varno Kestrion (2A), S/N:S1",
                                                                "Type: Varno (B), S/N:"}));
    ASSERT_EQ(table.Count(), 2);
    EXPECT_EQ(table.At(0).deviceName, "COM33");
    EXPECT_EQ(table.At(1).deviceName, "COM201");
}

// Descriptions left behind by simulators that could not clean up (their node
// or their listener gone) are not devices; one that claims the number of one
// of the system's own ports is skipped with a warning, since it would list
// as a charger but open the system's port.
TEST_F(DiscoveryTest, UnreachableAndClashingVirtualDevicesAreSkipped) {
    const auto describe = [&](const std::string& file, const std::string& text) {
        std::ofstream(m_virtualDirectory.Path() / file) << text;
    };
    const testing::PtyPeer live(m_virtualDirectory.Path(), 201);
    describe(
        "COM202.json",
        R"({"kind":"serial","port":"COM202","node":"/dev/pts/999999","bus_description":"Varno"})");
    // The system's first port that has a node here (most machines have
    // ttyS0, COM1); the mocked test bed makes no nodes of its own.
    std::uint32_t systemPort = 0;
    for (std::uint32_t port = 1; port <= 160 && systemPort == 0; ++port) {
        const auto node = SystemNodeForComNumber(port);
        systemPort = node && std::filesystem::exists(*node) ? port : 0;
    }
    const std::string clash = "COM" + std::to_string(systemPort);
    if (systemPort != 0) {
        describe(clash + ".json", R"({"kind":"serial","port":")" + clash + R"(","node":")" +
                                      live.Node() + R"(","bus_description":"Varno Clash"})");
    }
    // A socket file with nobody listening: a HID simulator killed outright.
    {
        const testing::HidSocketPeer killed(m_virtualDirectory.Path(), "killed", 0x0483, 0x5750,
                                            "Varno Killed", "K1");
    }
    describe("killed.json",
             R"({"kind":"hid","socket":"killed.sock","vendor_id":1155,"product_id":22352})");
    ASSERT_TRUE(std::filesystem::exists(m_virtualDirectory.Path() / "killed.sock"));
    const testing::HidSocketPeer alive(m_virtualDirectory.Path(), "alive", 0x0483, 0x5750,
                                       "Varno Alive", "A1");

    ::testing::internal::CaptureStderr();
    const VirtualDevices devices = ReadVirtualDevices();
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(devices.serial.size(), 1u);
    EXPECT_EQ(devices.serial[0].portNumber, 201u);
    ASSERT_EQ(devices.hid.size(), 1u);
    EXPECT_EQ(devices.hid[0].serialNumber, "A1");
    if (systemPort == 0) {
        GTEST_SKIP() << "no system serial node here to clash with";
    }
    EXPECT_NE(warnings.find(clash + ".json describes " + clash + ", which is this system's " +
                            *SystemNodeForComNumber(systemPort)),
              std::string::npos)
        << warnings;
}

TEST_F(DiscoveryTest, WatcherSeesUdevEventsAndDescriptionFiles) {
    const std::string hidraw = m_system.AddHid({"0483", "5750", "Varno Kestrion X", "HX1"});
    DeviceWatcher watcher;
    EXPECT_FALSE(watcher.ConsumeChanges());

    m_system.Uevent(hidraw, "add");
    EXPECT_TRUE(watcher.WaitForChange(5000));

    // Other files in the directory are not devices.
    std::ofstream(m_virtualDirectory.Path() / "notes.txt") << "x";
    EXPECT_FALSE(watcher.WaitForChange(200));

    {
        const testing::PtyPeer charger(m_virtualDirectory.Path(), 210);
        EXPECT_TRUE(watcher.WaitForChange(5000));
        std::filesystem::remove(m_virtualDirectory.Path() / "COM210.json");
        EXPECT_TRUE(watcher.WaitForChange(5000));
    }
}

}  // namespace
}  // namespace velmorin
