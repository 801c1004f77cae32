// SPDX-License-Identifier: MIT
// Upgrades of the largest payload (523 776 bytes) against the simulated
// chargers, timed: one serial and one HID charger alone, then eight of each
// at once through the same batch of runs that `update --all` and the
// station use. Prints each serial transfer's time against the floor its
// protocol imposes (the fixed pauses plus 1 ms after each frame), the HID
// upgrade's host time per block, and for the eight at once their time
// against one alone and the processor time of this process in cores. The
// figures come last, one `name=value` per line. With VELMORIN_BENCH_TRACE=1
// the serial charger alone is upgraded once more with a wire trace, for what
// tracing costs.
// Usage: upgrade_bench PATH-TO-velmorin-sim [hid] (hid: the HID figures alone)
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/virtual/virtual_devices.h"
#include "device/wire_trace.h"
#include "image/update_header.h"
#include "image/update_sealer.h"
#include "protocol/hid_upgrade.h"
#include "protocol/protocol_clock.h"
#include "protocol/serial_upgrade.h"
#include "session/charger_batch.h"
#include "support/recording_host.h"
#include "support/test_support.h"

namespace {

using namespace velmorin;
using Clock = std::chrono::steady_clock;

constexpr int kAtOnce = 8;

double ThreadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

// The serial protocol's own floor for a run of `frames` frames: the paced
// enter command (10 x 50 ms), 150 ms after its answer, two opens of 2 x 60
// ms, the wake's 100 ms, 50 ms before the length frame, and 1 ms after each
// accepted frame.
double SerialFloorSeconds(std::uint64_t frames) {
    return (500 + 150 + 240 + 100 + 50 + static_cast<double>(frames)) / 1000.0;
}

struct Timed {
    UpgradeReport report;
    double wallSeconds;
    double hostCpuSeconds;
};

UpgradeReport Completed() {
    UpgradeReport report;
    report.outcome = UpgradeOutcome::Completed;
    return report;
}

// A recording host whose runs record their wire trace.
class TracingHost : public testing::RecordingHost {
public:
    TracingHost(std::string path, const std::string& deviceName, WireTrace* trace)
        : RecordingHost(std::move(path), deviceName), m_trace(trace) {}
    WireTrace* Trace() override { return m_trace; }

private:
    WireTrace* m_trace;
};

template <typename Upgrade>
Timed Run(const std::string& file, const std::string& device, Upgrade upgrade,
          WireTrace* trace = nullptr) {
    TracingHost host(file, device, trace);
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    Timed timed{upgrade(host), 0, 0};
    timed.hostCpuSeconds = ThreadCpuSeconds() - cpuStart;
    timed.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    return timed;
}

// Keeps the reports of a batch's runs.
class Reports : public BatchObserver {
public:
    void OnFinished(int /*run*/, const BatchResult& result) override {
        const std::lock_guard lock(m_mutex);
        results.push_back(result);
    }
    std::mutex m_mutex;
    std::vector<BatchResult> results;
};

struct Parallel {
    std::vector<BatchResult> results;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    bool allCompleted = false;
};

// Every listed charger whose device name starts with `prefix`, at once.
Parallel RunAtOnce(const std::string& file, const std::string& prefix) {
    LiveDeviceTable devices(false);
    Reports reports;
    Parallel parallel;
    const auto start = Clock::now();
    const double cpuStart = ProcessCpuSeconds();
    {
        RunJournal journal({});  // no history kept
        ChargerBatch batch({file, "bench", nullptr, false}, devices, reports, journal);
        for (const DeviceEntry& entry : devices.Entries()) {
            if (entry.deviceName.rfind(prefix, 0) == 0) {
                batch.Start(entry);
            }
        }
    }
    parallel.cpuSeconds = ProcessCpuSeconds() - cpuStart;
    parallel.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    parallel.results = std::move(reports.results);
    parallel.allCompleted =
        parallel.results.size() == kAtOnce &&
        std::all_of(parallel.results.begin(), parallel.results.end(), [](const BatchResult& r) {
            return r.report.outcome == UpgradeOutcome::Completed;
        });
    for (const BatchResult& result : parallel.results) {
        if (result.report.outcome != UpgradeOutcome::Completed) {
            std::fprintf(stderr, "%s failed: %s\n", result.device.deviceName.c_str(),
                         result.message.c_str());
        }
    }
    return parallel;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-velmorin-sim\n", argv[0]);
        return 2;
    }
    const std::string sim = argv[1];
    const bool serialToo = argc < 3 || std::string(argv[2]) != "hid";
    const testing::TempDirectory directory;
    const std::string dir = directory.Path().string();
    const testing::ScopedEnvironment environment(kVirtualDevicesVariable, dir);
    const std::string serialFile = SealLargest(dir, SealedForm::WholeFile);
    const std::string hidFile = SealLargest(dir, SealedForm::HeaderOnly);

    // One of each alone.
    double singleSerialSeconds = 0;
    double singleSerialVsFloor = 0;
    double singleHidSeconds = 0;
    {
        const testing::BackgroundProgram serialCharger(
            {sim, "serial", "--dir", dir, "--model-code", "0x2A"});
        const testing::BackgroundProgram hidCharger(
            {sim, "hid", "--dir", dir, "--model-code", "0x2A"});
        if (!testing::WaitForFile(directory.Path() / "COM201.json") ||
            !testing::WaitForFile(directory.Path() / "charger1.json")) {
            std::fprintf(stderr, "the simulated chargers did not start\n");
            return 1;
        }
        NonceSource nonces;
        const Timed hid = Run(
            hidFile, "HID0", [&nonces](UpgradeHost& host) { return UpgradeOverHid(host, nonces); });
        const Timed serial =
            serialToo ? Run(serialFile, "COM201", UpgradeOverSerial) : Timed{Completed(), 1, 0};
        if (serial.report.outcome != UpgradeOutcome::Completed ||
            hid.report.outcome != UpgradeOutcome::Completed) {
            std::fprintf(stderr, "an upgrade failed: serial \"%s\", HID \"%s\"\n",
                         serial.report.message.c_str(), hid.report.message.c_str());
            return 1;
        }
        const double frames = static_cast<double>(serial.report.framesSent);
        const double blocks = static_cast<double>(hid.report.framesSent);
        singleSerialSeconds = serial.wallSeconds;
        singleSerialVsFloor = serial.wallSeconds / SerialFloorSeconds(serial.report.framesSent);
        singleHidSeconds = hid.wallSeconds;
        std::printf("serial alone: %.0f frames in %.2f s, floor %.2f s, host CPU %.2f s\n", frames,
                    serial.wallSeconds, SerialFloorSeconds(serial.report.framesSent),
                    serial.hostCpuSeconds);
        std::printf(
            "hid alone: %.0f blocks in %.2f s (%.1f us per block, 1 s of restart "
            "included), host CPU %.1f us per block\n",
            blocks, hid.wallSeconds, hid.wallSeconds * 1e6 / blocks,
            hid.hostCpuSeconds * 1e6 / blocks);
        std::printf("hid_host_us_per_block=%.1f\n", hid.hostCpuSeconds * 1e6 / blocks);

        const char* traceMode = std::getenv("VELMORIN_BENCH_TRACE");
        if (serialToo && traceMode != nullptr && std::string(traceMode) == "1") {
            WireTrace trace;
            const Timed traced = Run(serialFile, "COM201", UpgradeOverSerial, &trace);
            if (traced.report.outcome != UpgradeOutcome::Completed) {
                std::fprintf(stderr, "the traced upgrade failed: \"%s\"\n",
                             traced.report.message.c_str());
                return 1;
            }
            const auto writeStart = Clock::now();
            const std::string writeError =
                trace.WriteTo(directory.Path() / "serial.trace", TraceFormat::Text);
            const double writeSeconds =
                std::chrono::duration<double>(Clock::now() - writeStart).count();
            const auto traceBytes =
                writeError.empty() ? std::filesystem::file_size(directory.Path() / "serial.trace")
                                   : 0;
            std::printf(
                "serial alone, traced: %.2f s, host CPU %.2f s; %zu events, written in %.3f s "
                "(%.1f MB)%s%s\n",
                traced.wallSeconds, traced.hostCpuSeconds, trace.EventCount(), writeSeconds,
                static_cast<double>(traceBytes) / 1e6,
                writeError.empty() ? "" : ", not written: ", writeError.c_str());
            std::printf("serial_traced_time_vs_untraced=%.4f\n",
                        traced.wallSeconds / serial.wallSeconds);
            std::printf("serial_traced_cpu_vs_untraced=%.3f\n",
                        traced.hostCpuSeconds / serial.hostCpuSeconds);
        }
    }

    // Eight serial chargers at once.
    Parallel serial8;
    serial8.allCompleted = true;
    if (serialToo) {
        std::vector<std::unique_ptr<testing::BackgroundProgram>> chargers;
        for (int i = 0; i < kAtOnce; ++i) {
            const std::string port = "COM" + std::to_string(211 + i);
            chargers.push_back(
                std::make_unique<testing::BackgroundProgram>(std::vector<std::string>{
                    sim, "serial", "--dir", dir, "--model-code", "0x2A", "--port", port,
                    "--serial-number", "S8-" + std::to_string(i)}));
            if (!testing::WaitForFile(directory.Path() / (port + ".json"))) {
                std::fprintf(stderr, "simulated charger %s did not start\n", port.c_str());
                return 1;
            }
        }
        serial8 = RunAtOnce(serialFile, "COM");
    }
    // Eight HID chargers at once.
    Parallel hid8;
    {
        std::vector<std::unique_ptr<testing::BackgroundProgram>> chargers;
        for (int i = 0; i < kAtOnce; ++i) {
            const std::string name = "hid8-" + std::to_string(i);
            chargers.push_back(std::make_unique<testing::BackgroundProgram>(
                std::vector<std::string>{sim, "hid", "--dir", dir, "--model-code", "0x2A", "--name",
                                         name, "--serial-number", "H8-" + std::to_string(i)}));
            if (!testing::WaitForFile(directory.Path() / (name + ".json"))) {
                std::fprintf(stderr, "simulated charger %s did not start\n", name.c_str());
                return 1;
            }
        }
        hid8 = RunAtOnce(hidFile, "HID");
    }
    if (!serial8.allCompleted || !hid8.allCompleted) {
        std::fprintf(stderr, "not every one of the eight upgrades completed\n");
        return 1;
    }

    if (!serialToo) {
        std::printf("parallel8_hid_time_vs_single=%.3f\n", hid8.wallSeconds / singleHidSeconds);
        std::printf("parallel8_hid_cpu_cores=%.3f\n", hid8.cpuSeconds / hid8.wallSeconds);
        return 0;
    }
    double worstVsFloor = 0;
    for (const BatchResult& result : serial8.results) {
        const double vsFloor =
            result.report.elapsedMs / 1000.0 / SerialFloorSeconds(result.report.framesSent);
        worstVsFloor = std::max(worstVsFloor, vsFloor);
    }
    std::printf("serial x%d: %.2f s, CPU %.2f s\n", kAtOnce, serial8.wallSeconds,
                serial8.cpuSeconds);
    std::printf("hid x%d: %.2f s, CPU %.2f s\n", kAtOnce, hid8.wallSeconds, hid8.cpuSeconds);
    std::printf("serial_time_vs_floor=%.3f\n", singleSerialVsFloor);
    std::printf("parallel8_time_vs_single=%.3f\n", serial8.wallSeconds / singleSerialSeconds);
    std::printf("parallel8_worst_transfer_vs_floor=%.3f\n", worstVsFloor);
    std::printf("parallel8_cpu_cores=%.3f\n", serial8.cpuSeconds / serial8.wallSeconds);
    std::printf("parallel8_hid_time_vs_single=%.3f\n", hid8.wallSeconds / singleHidSeconds);
    std::printf("parallel8_hid_cpu_cores=%.3f\n", hid8.cpuSeconds / hid8.wallSeconds);
    return 0;
}
