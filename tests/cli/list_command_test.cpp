// SPDX-License-Identifier: MIT
// `velmorin-cli list` with simulated chargers from `velmorin-sim`, on an
// empty mocked system (umockdev) so that the machine's own ports stay out of
// it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using testing::RunProgram;

TEST(CliList, SimulatedChargersAndPlainPorts) {
    const testing::TempDirectory directory;
    const std::string dir = directory.Path().string();
    const BackgroundProgram serialCharger(
        {VELMORIN_SIM, "serial", "--dir", dir, "--port", "COM201", "--serial-number", "0001A2B3"});
    const BackgroundProgram plainPort({VELMORIN_SIM, "serial", "--dir", dir, "--port", "COM205",
                                       "--description", "Bench adapter", "--product",
                                       "FT232R USB UART"});
    const BackgroundProgram hidCharger(
        {VELMORIN_SIM, "hid", "--dir", dir, "--serial-number", "HX000123"});
    for (const char* file : {"COM201.json", "COM205.json", "charger1.json"}) {
        ASSERT_TRUE(testing::WaitForFile(directory.Path() / file)) << file;
    }
    const testing::ScopedEnvironment environment("VELMORIN_VIRTUAL_DEVICES", dir);

    const auto list = [](std::vector<std::string> options) {
        std::vector<std::string> args = {UMOCKDEV_WRAPPER, "--empty", VELMORIN_CLI, "list"};
        args.insert(args.end(), options.begin(), options.end());
        return RunProgram(args);
    };
    const std::string chargers =
        "COM201\tType: Varno Kestrion X, S/N:0001A2B3\n"
        "HID0\tType: Varno Kestrion X, S/N:HX000123\n";
    const auto plain = list({});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.out, chargers);

    const auto withPorts = list({"--include-com"});
    EXPECT_EQ(withPorts.exitCode, 0);
    EXPECT_EQ(withPorts.out,
              "COM201\tType: Varno Kestrion X, S/N:0001A2B3\n"
              "COM205\tBench adapter (COM205)\n"
              "HID0\tType: Varno Kestrion X, S/N:HX000123\n");

    const auto json = nlohmann::json::parse(list({"--json"}).out);
    ASSERT_EQ(json["devices"].size(), 2u);
    EXPECT_EQ(json["devices"][1]["device"], "HID0");
    EXPECT_EQ(json["devices"][1]["serial"], "HX000123");
}

// A HID charger as umockdev describes a system's devices: the hidraw node,
// its HID device, and the USB interface and device above them. hidapi wants
// the HID device's name but takes a USB device's product string from the USB
// device; it goes in as bytes (hexadecimal), which keeps line breaks and tabs.
std::string HidChargerDescription(const std::string& product) {
    std::string hex;
    for (const char c : product) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
        hex += digits;
    }
    return R"(P: /devices/usb1/1-1/1-1:1.0/0003:0483:5750.0001/hidraw/hidraw0
N: hidraw0
E: SUBSYSTEM=hidraw
E: DEVNAME=/dev/hidraw0

P: /devices/usb1/1-1/1-1:1.0/0003:0483:5750.0001
E: SUBSYSTEM=hid
E: HID_ID=0003:00000483:00005750
E: HID_NAME=Varno
E: HID_UNIQ=HX1

P: /devices/usb1/1-1/1-1:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
A: bInterfaceNumber=00

P: /devices/usb1/1-1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=0483
A: idProduct=5750
A: serial=HX1
H: product=)" +
           hex + "\n";
}

// hidapi turns USB strings into wide text with the locale's character type:
// the list must show them whatever locale the environment names (or none),
// and show their line breaks and tabs as escapes so that each device stays
// on one line of two columns. JSON keeps the text as it is.
TEST(CliList, DeviceTextsWhateverTheLocale) {
    struct Row {
        const char* name;
        std::optional<std::string> lcAll;
        std::optional<std::string> lang;
        std::string product;
        std::string line;
    };
    const Row rows[] = {
        {"no locale named", std::nullopt, std::nullopt, "Varno Kestrion \xC3\x9C",
         "HID0\tType: Varno Kestrion \xC3\x9C, S/N:HX1\n"},
        {"C locale", "C", std::nullopt, "Varno Kestrion \xC3\x9C",
         "HID0\tType: Varno Kestrion \xC3\x9C, S/N:HX1\n"},
        {"POSIX locale", std::nullopt, "POSIX", "Varno Kestrion \xC3\xA9",
         "HID0\tType: Varno Kestrion \xC3\xA9, S/N:HX1\n"},
        {"locale that is not installed", "xx_XX.UTF-8", std::nullopt, "Varno \xC3\x9C",
         "HID0\tType: Varno \xC3\x9C, S/N:HX1\n"},
        {"line break and tab", "C.UTF-8", std::nullopt, "Varno\tKestrion\nHID9\tfake",
         "HID0\tType: Varno\\tKestrion\\nHID9\\tfake, S/N:HX1\n"},
    };
    const testing::TempDirectory directory;
    const std::string description = (directory.Path() / "charger.umockdev").string();
    const testing::ScopedEnvironment noVirtual("VELMORIN_VIRTUAL_DEVICES", std::nullopt);
    const testing::ScopedEnvironment lcCtype("LC_CTYPE", std::nullopt);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ofstream(description) << HidChargerDescription(row.product);
        const testing::ScopedEnvironment lcAll("LC_ALL", row.lcAll);
        const testing::ScopedEnvironment lang("LANG", row.lang);

        const auto list = [&](const char* option) {
            std::vector<std::string> args = {UMOCKDEV_WRAPPER, "--devices", description,
                                             VELMORIN_CLI, "list"};
            if (option != nullptr) {
                args.push_back(option);
            }
            return RunProgram(args);
        };
        const auto text = list(nullptr);
        EXPECT_EQ(text.exitCode, 0);
        EXPECT_EQ(text.out, row.line);
        const auto json = nlohmann::json::parse(list("--json").out);
        EXPECT_EQ(json["devices"][0]["model"], row.product);
    }
}

TEST(CliList, NoDevice) {
    const testing::TempDirectory directory;
    const testing::ScopedEnvironment environment("VELMORIN_VIRTUAL_DEVICES",
                                                 directory.Path().string());
    const auto outcome =
        RunProgram({UMOCKDEV_WRAPPER, "--empty", VELMORIN_CLI, "list", "--include-com"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "Device not found!\n");
}

}  // namespace
}  // namespace velmorin
