// SPDX-License-Identifier: MIT
// The cost of one discovery (serial ports and HID chargers, as every device
// list refresh runs it) with N mocked system devices (half USB-serial
// adapters, half HID interfaces, on umockdev's test bed) and N virtual
// devices (half serial, half HID). The fitted complexity shows how the cost
// grows with N. Run under tests/umockdev-wrapper.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "device/port_discovery.h"
#include "device/virtual/virtual_devices.h"
#include "support/mocked_system.h"
#include "support/test_support.h"

namespace {

using velmorin::testing::MockedSystem;

void BM_Discovery(benchmark::State& state) {
    const auto devices = static_cast<int>(state.range(0));
    MockedSystem system;
    const velmorin::testing::TempDirectory directory;
    const velmorin::testing::ScopedEnvironment environment(velmorin::kVirtualDevicesVariable,
                                                           directory.Path().string());
    std::vector<std::unique_ptr<velmorin::testing::HidSocketPeer>> hidPeers;
    for (int i = 0; i < devices / 2; ++i) {
        const std::string serial = "S" + std::to_string(i);
        // 32 USB-serial nodes, then 32 ACM ones: the COM numbers' room.
        system.AddUsbSerial(
            i < 32 ? "ttyUSB" + std::to_string(i) : "ttyACM" + std::to_string(i - 32),
            {"0403", "6001", "Varno Kestrion X", serial});
        system.AddHid({"0483", "5750", "Varno Kestrion X", "H" + std::to_string(i)});
        const std::string port = "COM" + std::to_string(201 + i);
        std::ofstream(directory.Path() / (port + ".json")) << nlohmann::json{
            {"kind", "serial"},           {"port", port},
            {"node", "/dev/null"},        {"friendly_name", "Kestrion Charger (" + port + ")"},
            {"bus_description", "Varno"}, {"serial_number", serial}};
        // A virtual HID charger is listed only while its socket listens.
        hidPeers.push_back(std::make_unique<velmorin::testing::HidSocketPeer>(
            directory.Path(), "hid" + std::to_string(i), 0x0483, 0x5750, "Varno Kestrion X",
            serial));
    }
    std::vector<velmorin::DiscoveredDevice> list;
    for (auto _ : state) {
        velmorin::EnumeratePorts(list, false);
        benchmark::DoNotOptimize(list.data());
    }
    if (list.size() != static_cast<std::size_t>(2 * devices)) {
        state.SkipWithError("discovery did not find every device (run under umockdev-wrapper)");
    }
    state.SetComplexityN(state.range(0));
    state.counters["records"] = static_cast<double>(list.size());
}
BENCHMARK(BM_Discovery)
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();
