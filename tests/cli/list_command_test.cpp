// SPDX-License-Identifier: MIT
// `velmorin-cli list` with simulated chargers from `velmorin-sim`, on an
// empty mocked system (umockdev) so that the machine's own ports stay out of
// it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
