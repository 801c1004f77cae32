// SPDX-License-Identifier: MIT
// The upgrade from a terminal: status lines, a progress bar on a terminal
// (plain lines otherwise), every message verbatim, device changes followed
// while the charger restarts, and a summary of the link at the end.
#include "update_command.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/device_table.h"
#include "app/update_command.h"
#include "device/device_watcher.h"
#include "device/serial_node.h"
#include "device/serial_port.h"
#include "device/virtual/virtual_devices.h"
#include "port_diagnosis.h"
#include "protocol/protocol_clock.h"
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

constexpr char kInterrupted[] =
    "\nInterrupted: the device is closed. The charger stays in its bootloader; run the same "
    "update again to finish it.\n";

// Ctrl-C ends the program at once: the kernel closes the device, and the
// ports give up exclusive mode so that the next run can open them.
void OnInterrupt(int /*signal*/) {
    ReleaseSerialPortsForExit();
    [[maybe_unused]] const ssize_t n =
        ::write(STDERR_FILENO, kInterrupted, sizeof kInterrupted - 1);
    ::_exit(130);
}

class TerminalHost : public UpgradeHost {
public:
    TerminalHost(std::string path, int selected, bool quiet)
        : m_path(std::move(path)),
          m_selected(selected),
          m_quiet(quiet),
          m_isTerminal(::isatty(STDOUT_FILENO) != 0) {}

    std::string PathText() override { return m_path; }
    int SelectedIndex() override { return m_selected; }

    void ShowStatus(bool /*visible*/) override {}
    void SetStatusText(const std::string& text) override {
        EndBar();
        Say(text);
    }
    void ShowProgress(bool visible) override {
        if (!visible) {
            EndBar();
        }
    }
    void SetProgressRange(std::uint16_t maximum) override {
        m_maximum = maximum;
        m_lastShown = -1;
    }
    void SetProgressPosition(int position) override {
        if (m_quiet || m_maximum == 0) {
            return;
        }
        const int percent = position * 100 / m_maximum;
        if (m_isTerminal) {
            const auto now = std::chrono::steady_clock::now();
            if (percent == m_lastShown && now - m_lastDrawn < std::chrono::milliseconds(200)) {
                return;
            }
            m_lastDrawn = now;
            constexpr int kWidth = 40;
            const int filled = position * kWidth / m_maximum;
            std::printf("\r[%s%s] %3d%%  %d/%u", std::string(filled, '#').c_str(),
                        std::string(kWidth - filled, ' ').c_str(), percent, position, m_maximum);
            std::fflush(stdout);
            m_barShown = true;
        } else if (percent / 10 != m_lastShown / 10 || m_lastShown < 0) {
            std::printf("progress: %d%% (%d/%u)\n", percent, position, m_maximum);
            std::fflush(stdout);  // a log or a pipe sees the progress as it comes
        }
        m_lastShown = percent;
    }
    void EnableUpdateButton(bool /*enabled*/) override {}
    void CopyDataToControls() override {}
    void PumpMessages() override {
        // A device change rebuilds only the table while the upgrade runs; the
        // selection stays, as on the window's disabled list.
        if (m_watcher.ConsumeChanges()) {
            RebuildDeviceTable(true, false);
        }
    }
    void ResetFileInfo(std::string_view reason) override {
        if (!reason.empty()) {
            EndBar();
            std::cerr << TerminalSafe(reason) << '\n';
        }
    }
    void ShowFileInfo(const FileInfoText& /*info*/, bool /*updateEnabled*/) override {}
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        EndBar();
        // With --json the standard output carries the JSON alone.
        (icon == MessageIcon::Error || m_quiet ? std::cerr : std::cout)
            << caption << ": " << TerminalSafe(text) << std::endl;
    }

private:
    void Say(const std::string& text) {
        if (!m_quiet) {
            std::cout << TerminalSafe(text) << std::endl;
        }
    }
    void EndBar() {
        if (m_barShown) {
            std::printf("\n");
            m_barShown = false;
        }
    }

    std::string m_path;
    int m_selected;
    bool m_quiet;
    bool m_isTerminal;
    std::uint16_t m_maximum = 0;
    int m_lastShown = -1;
    bool m_barShown = false;
    std::chrono::steady_clock::time_point m_lastDrawn{};
    DeviceWatcher m_watcher;
};

// NAME as `list` shows it, or a serial node path, as a device name.
std::string DeviceNameFor(const std::string& device) {
    if (device.empty() || device[0] != '/') {
        return device;
    }
    std::error_code error;
    const std::string node = std::filesystem::weakly_canonical(device, error).string();
    if (const auto port = ComNumberForTty(std::filesystem::path(node).filename().string())) {
        return "COM" + std::to_string(*port);
    }
    for (const VirtualSerialDevice& serial : ReadVirtualDevices().serial) {
        if (serial.node == device || serial.node == node) {
            return "COM" + std::to_string(serial.portNumber);
        }
    }
    return device;
}

const char* OutcomeName(UpgradeOutcome outcome) {
    switch (outcome) {
    case UpgradeOutcome::Completed:
        return "completed";
    case UpgradeOutcome::FileRejected:
        return "file-rejected";
    case UpgradeOutcome::OpenFailed:
        return "open-failed";
    case UpgradeOutcome::Mismatch:
        return "mismatch";
    case UpgradeOutcome::Failed:
        return "failed";
    }
    return "failed";
}

}  // namespace

int RunUpdateCommand(const std::string& path, const std::string& device, bool json) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    SeedNonceGenerator(
        static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));

    const std::string deviceName = DeviceNameFor(device);
    const DeviceTableRebuild table = RebuildDeviceTable(true, false);
    int selected = -1;
    for (int i = 0; i < g_deviceCount; ++i) {
        if (g_deviceTable[static_cast<std::size_t>(i)].deviceName == deviceName) {
            selected = i;
            break;
        }
    }
    if (selected < 0) {
        if (!table.discoveryError.empty()) {
            std::cerr << TerminalSafe(table.discoveryError) << '\n';
        }
        std::cerr << "velmorin-cli update: no device " << TerminalSafe(device)
                  << " is connected; `velmorin-cli list --include-com` shows the devices\n";
        return 2;
    }

    TerminalHost host(path, selected, json);
    const UpgradeReport report = RunUpgradeForSelection(host);
    if (report.outcome == UpgradeOutcome::OpenFailed && !report.openNode.empty()) {
        for (const std::string& line :
             ExplainPortFailure(report.openNode, report.openErrno, report.openRateRefused)) {
            std::cerr << TerminalSafe(line) << '\n';
        }
    }

    const double seconds = report.elapsedMs / 1000.0;
    const double rate = seconds > 0 && report.outcome == UpgradeOutcome::Completed
                            ? static_cast<double>(report.payloadBytes) / seconds
                            : 0.0;
    if (json) {
        nlohmann::json out = {{"outcome", OutcomeName(report.outcome)},
                              {"message", report.message},
                              {"device", deviceName},
                              {"attempts", report.attempts},
                              {"frames", report.framesSent},
                              {"resends", report.resends},
                              {"timeouts", report.timeouts},
                              {"device_lost", report.deviceLost},
                              {"elapsed_ms", report.elapsedMs},
                              {"payload_bytes", report.payloadBytes},
                              {"payload_bytes_per_second", rate}};
        if (report.errorCode != 0) {
            out["error_code"] = report.errorCode;
        }
        if (!report.openError.empty()) {
            out["open_error"] = report.openError;
        }
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (report.attempts > 0) {
        std::printf(
            "link: %d attempt%s, %llu %s, %llu resends, %llu time-outs,%s %.2f s, %.0f B/s\n",
            report.attempts, report.attempts == 1 ? "" : "s",
            static_cast<unsigned long long>(report.framesSent),
            IsHidDeviceName(deviceName) ? "blocks" : "frames",
            static_cast<unsigned long long>(report.resends),
            static_cast<unsigned long long>(report.timeouts),
            report.deviceLost ? " device lost," : "", seconds, rate);
    }
    return report.outcome == UpgradeOutcome::Completed ? 0 : 1;
}

}  // namespace velmorin::cli
