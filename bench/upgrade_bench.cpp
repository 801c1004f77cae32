// SPDX-License-Identifier: MIT
// Upgrades of the largest payload (523 776 bytes) against the simulated
// chargers, timed. Prints the serial upgrade's total time against the floor
// its protocol imposes (the fixed pauses plus 1 ms after each frame), and the
// HID upgrade's host time per block (processor time of the upgrading thread,
// the charger's side excluded). Usage: upgrade_bench PATH-TO-velmorin-sim
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "device/virtual/virtual_devices.h"
#include "image/update_header.h"
#include "image/update_sealer.h"
#include "protocol/hid_upgrade.h"
#include "protocol/protocol_clock.h"
#include "protocol/serial_upgrade.h"
#include "support/recording_host.h"
#include "support/test_support.h"

namespace {

using namespace velmorin;

double ThreadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string SealLargest(const std::string& directory, SealedForm form) {
    std::vector<std::uint8_t> payload(kMaxPayloadLength);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    }
    UpdateHeader fields;
    fields.version = "V1.00";
    fields.modelCode = 0x2A;
    const auto file = SealUpdateFile(fields, payload, form);
    const std::string path =
        directory + (form == SealedForm::WholeFile ? "/whole.bin" : "/header.bin");
    testing::WriteBytes(path, file);
    return path;
}

struct Timed {
    UpgradeReport report;
    double wallSeconds;
    double hostCpuSeconds;
};

template <typename Upgrade>
Timed Run(const std::string& file, const std::string& device, Upgrade upgrade) {
    testing::RecordingHost host(file, device);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadCpuSeconds();
    Timed timed{upgrade(host), 0, 0};
    timed.hostCpuSeconds = ThreadCpuSeconds() - cpuStart;
    timed.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return timed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-velmorin-sim\n", argv[0]);
        return 2;
    }
    const std::string sim = argv[1];
    const testing::TempDirectory directory;
    const std::string dir = directory.Path().string();
    const testing::ScopedEnvironment environment(kVirtualDevicesVariable, dir);
    const testing::BackgroundProgram serialCharger(
        {sim, "serial", "--dir", dir, "--model-code", "0x2A"});
    const testing::BackgroundProgram hidCharger({sim, "hid", "--dir", dir, "--model-code", "0x2A"});
    if (!testing::WaitForFile(directory.Path() / "COM201.json") ||
        !testing::WaitForFile(directory.Path() / "charger1.json")) {
        std::fprintf(stderr, "the simulated chargers did not start\n");
        return 1;
    }

    NonceSource nonces;
    const Timed hid = Run(SealLargest(dir, SealedForm::HeaderOnly), "HID0",
                          [&nonces](UpgradeHost& host) { return UpgradeOverHid(host, nonces); });
    const Timed serial = Run(SealLargest(dir, SealedForm::WholeFile), "COM201", UpgradeOverSerial);
    if (serial.report.outcome != UpgradeOutcome::Completed ||
        hid.report.outcome != UpgradeOutcome::Completed) {
        std::fprintf(stderr, "an upgrade failed: serial \"%s\", HID \"%s\"\n",
                     serial.report.message.c_str(), hid.report.message.c_str());
        return 1;
    }

    // The serial protocol's own floor: the paced enter command (10 x 50 ms),
    // 150 ms after its answer, two opens of 2 x 60 ms, the wake's 100 ms,
    // 50 ms before the length frame, and 1 ms after each accepted frame.
    const double frames = static_cast<double>(serial.report.framesSent);
    const double floorSeconds = (500 + 150 + 240 + 100 + 50 + frames) / 1000.0;
    const double blocks = static_cast<double>(hid.report.framesSent);
    std::printf("serial: %.0f frames in %.2f s, floor %.2f s, host CPU %.2f s\n", frames,
                serial.wallSeconds, floorSeconds, serial.hostCpuSeconds);
    std::printf("hid: %.0f blocks in %.2f s (%.1f us per block wall, 1 s of restart included)\n",
                blocks, hid.wallSeconds, hid.wallSeconds * 1e6 / blocks);
    std::printf("serial_time_vs_floor=%.3f\n", serial.wallSeconds / floorSeconds);
    std::printf("hid_host_us_per_block=%.1f\n", hid.hostCpuSeconds * 1e6 / blocks);
    return 0;
}
