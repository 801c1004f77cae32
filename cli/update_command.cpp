// SPDX-License-Identifier: MIT
// The upgrade from a terminal: status lines, a progress bar on a terminal
// (plain lines otherwise), every message verbatim, device changes followed
// while the charger restarts, a summary of the link at the end, and the
// run's line in the history.
#include "update_command.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "console.h"
#include "device/device_name.h"
#include "device/device_watcher.h"
#include "device/serial_node.h"
#include "device/serial_port.h"
#include "device/wire_trace.h"
#include "device_argument.h"
#include "image/file_path.h"
#include "image/update_image.h"
#include "output.h"
#include "port_diagnosis.h"
#include "progress_text.h"
#include "protocol/hid_upgrade.h"
#include "protocol/protocol_clock.h"
#include "protocol/serial_upgrade.h"
#include "protocol/upgrade_texts.h"
#include "session/device_table.h"
#include "session/recorded_run.h"
#include "session/run_journal.h"
#include "session/upgrade_dispatch.h"
#include "session/upgrade_record.h"
#include "terminal_text.h"

namespace velmorin::cli {
namespace {

constexpr char kInterrupted[] =
    "\nInterrupted: the device is closed. The charger stays in its bootloader; run the same "
    "update again to finish it.\n";
constexpr char kInterruptedBeforeTransfer[] =
    "\nInterrupted before the transfer began: the device is closed and no firmware was "
    "written.\n";
constexpr char kInterruptedAfterCompletion[] =
    "\nInterrupted after the upgrade completed: the charger holds the new firmware, and the "
    "history says so.\n";
constexpr char kInterruptedAfterEnd[] =
    "\nInterrupted after the run ended: its outcome is in the history as shown above.\n";
constexpr char kInterruptedSeveral[] =
    "\nInterrupted: the devices are closed. A charger whose transfer had begun stays in its "
    "bootloader; run the same update again to finish it.\n";
constexpr char kInterruptedSeveralBeforeTransfer[] =
    "\nInterrupted before any transfer began: the devices are closed and no firmware was "
    "written.\n";
constexpr char kInterruptedSeveralAfterEnd[] =
    "\nInterrupted after every run had ended: their outcomes are in the history as shown.\n";

// The runs that an ending request closes, and the words it uses.
std::atomic<RunJournal*> interruptJournal{nullptr};
std::atomic<bool> severalChargers{false};

template <std::size_t N>
constexpr std::string_view Text(const char (&text)[N]) {
    return std::string_view(text, N - 1);
}

std::string_view InterruptText(const ClosedRuns& closed, bool several) {
    if (closed.runs == 0 && closed.begun > 0) {
        // Every run had written its outcome: the request cut off nothing.
        if (several) {
            return Text(kInterruptedSeveralAfterEnd);
        }
        return closed.completed > 0 ? Text(kInterruptedAfterCompletion)
                                    : Text(kInterruptedAfterEnd);
    }
    if (closed.transfersBegun > 0) {
        return several ? Text(kInterruptedSeveral) : Text(kInterrupted);
    }
    return several ? Text(kInterruptedSeveralBeforeTransfer) : Text(kInterruptedBeforeTransfer);
}

// Ctrl-C (and the other ending requests) ends the program at once: the runs
// still open are recorded as interrupted, the system closes the devices,
// and the ports give up exclusive mode so that the next run can open them.
void OnInterrupt() {
    RunJournal* journal = interruptJournal.load();
    const ClosedRuns closed =
        journal != nullptr ? journal->CloseAll(kInterruptedRunMessage) : ClosedRuns{};
    ReleaseSerialPortsForExit();
    WriteErrorNow(InterruptText(closed, severalChargers.load()));
    ExitNow(130);
}

class TerminalHost : public UpgradeHost {
public:
    // Upgrades the device in slot `selected` of `table`, which the host keeps
    // and rebuilds on device changes.
    TerminalHost(std::string path, DeviceTable table, int selected, bool quiet, int maxAttempts)
        : m_path(std::move(path)),
          m_table(std::move(table)),
          m_selected(selected),
          m_quiet(quiet),
          m_isTerminal(StdoutIsTerminal()),
          m_maxAttempts(maxAttempts) {}

    // The run records its wire trace into `trace` (nullptr: none).
    void RecordTraceInto(WireTrace* trace) { m_trace = trace; }
    WireTrace* Trace() override { return m_trace; }

    std::string PathText() override { return m_path; }
    DeviceEntry SelectedEntry() override { return m_table.At(m_selected); }
    std::vector<DeviceEntry> ListedEntries() override { return m_table.Entries(); }

    void ShowStatus(bool /*visible*/) override {}
    void SetStatusText(const std::string& text) override {
        EndBar();
        if (text == kStatusConnecting || text == kStatusConnectingAgain) {
            Say(text + AttemptText());
            return;
        }
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
        m_shownTenth = -1;
    }
    void SetProgressPosition(int position) override {
        if (m_quiet || m_maximum == 0) {
            return;
        }
        const int percent = ProgressPercent(position, m_maximum);
        if (m_isTerminal) {
            const auto now = std::chrono::steady_clock::now();
            if (percent == m_lastShown && now - m_lastDrawn < std::chrono::milliseconds(200)) {
                return;
            }
            m_lastDrawn = now;
            m_lastShown = percent;
            std::printf("\r%s %3d%%  %d/%u", ProgressBar(position, m_maximum, 40).c_str(), percent,
                        position, m_maximum);
            std::fflush(stdout);
            m_barShown = true;
        } else if (NextTenth(percent, m_shownTenth)) {
            std::printf("%s\n", ProgressLine(position, m_maximum).c_str());
            std::fflush(stdout);  // a log or a pipe sees the progress as it comes
        }
    }
    void EnableUpdateButton(bool /*enabled*/) override {}
    void CopyDataToControls() override {}
    void PumpMessages() override {
        // A device change rebuilds only the table while the upgrade runs; the
        // selection stays, as on the window's disabled list.
        if (m_watcher.ConsumeChanges()) {
            m_table.Rebuild(true, false);
        }
    }
    void ResetFileInfo(std::string_view reason) override {
        if (!reason.empty()) {
            EndBar();
            std::cerr << TerminalSafe(reason) << '\n';
        }
    }
    void ShowFileInfo(const FileInfoText& /*info*/) override {}
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        EndBar();
        // With --json the standard output carries the JSON alone.
        (icon == MessageIcon::Error || m_quiet ? std::cerr : std::cout)
            << caption << ": " << TerminalSafe(text) << std::endl;
    }

private:
    // From the second attempt on, the attempt's number and about how long
    // the attempts left may take, judged by the ones so far: a port with no
    // charger behind it takes over half a minute to give up.
    std::string AttemptText() {
        const auto now = std::chrono::steady_clock::now();
        if (m_attempt++ == 0) {
            m_firstAttempt = now;
            return {};
        }
        const double perAttempt =
            std::chrono::duration<double>(now - m_firstAttempt).count() / (m_attempt - 1);
        const int left = static_cast<int>(perAttempt * (m_maxAttempts - m_attempt + 1) + 0.5);
        char text[64];
        std::snprintf(text, sizeof text, " (attempt %d of %d, up to about %d s left)", m_attempt,
                      m_maxAttempts, left);
        return text;
    }

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
    DeviceTable m_table;
    int m_selected;
    bool m_quiet;
    bool m_isTerminal;
    std::uint16_t m_maximum = 0;
    int m_lastShown = -1;   // the percentage the bar shows
    int m_shownTenth = -1;  // the tenth a plain line told last
    bool m_barShown = false;
    std::chrono::steady_clock::time_point m_lastDrawn{};
    int m_maxAttempts;
    int m_attempt = 0;
    std::chrono::steady_clock::time_point m_firstAttempt{};
    DeviceWatcher m_watcher;
    WireTrace* m_trace = nullptr;
};

// What to add to the load's own words on a rejected file: what the system
// said of a file that cannot be opened, that a file is empty (the window
// shows nothing for either), and that a serial charger cannot take a file in
// the header form. Empty when there is nothing to add.
std::string FileRejectionReason(const UpgradeReport& report, bool serial, const PinnedFile& file) {
    const ImageCheck& check = report.fileCheck;
    switch (check.result) {
    case ImageLoadResult::CannotOpen:
        return check.openError;
    case ImageLoadResult::Empty:
        return "The file is empty: " + file.Description().path;
    case ImageLoadResult::FormatError:
        if (serial && file.Form() == SealedForm::HeaderOnly) {
            return "The file is in the header form, which only HID chargers take; a serial "
                   "charger needs the whole-file form.";
        }
        return {};
    default:
        return {};
    }
}

// Every way out under --json prints one object with the outcome and the
// reason.
void PrintJson(nlohmann::json out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace

void EndUpgradesAtOnceOnInterrupt(RunJournal& journal, bool several) {
    interruptJournal = &journal;
    severalChargers = several;
    EndAtOnceOnInterrupt(OnInterrupt);
}

// A serial port that discovery does not list but that the system opens by
// its name is upgraded as a plain port.
bool NamedPortOpens(const std::string& deviceName) {
    const std::optional<DeviceName> name = ParseDeviceName(deviceName);
    if (!name || name->kind != DeviceKind::Serial || name->number == 0) {
        return false;
    }
    const std::optional<std::string> node = SerialNodeForComNumber(name->number);
    return node && ProbeSerialPort(*node) != PortProbe::Unavailable;
}

std::vector<std::string> ExplainOutcome(const UpgradeReport& report, bool hid,
                                        const PinnedFile& file) {
    std::vector<std::string> explanation;
    if (report.outcome == UpgradeOutcome::FileRejected) {
        const std::string reason = FileRejectionReason(report, !hid, file);
        if (!reason.empty()) {
            explanation.push_back(reason);
        }
    } else if (report.outcome == UpgradeOutcome::OpenFailed && hid && report.openErrno == EBUSY) {
        explanation = {report.openError + ".",
                       "Wait for that run to end (or end it) and try again."};
    } else if (report.outcome == UpgradeOutcome::OpenFailed && !report.openNode.empty()) {
        explanation = ExplainPortFailure(report.openNode, report.openErrno, report.openRateRefused);
    }
    if (report.deviceLost && report.outcome != UpgradeOutcome::Completed) {
        explanation.push_back(
            "The charger was lost during the run (unplugged, or its port "
            "hung up).");
    }
    return explanation;
}

void ReportHistoryFailure(const std::string& error) {
    std::cerr << "velmorin-cli: "
              << TerminalSafe(error.empty() ? "cannot write the history: no folder for it is known"
                                            : error)
              << '\n';
}

void SaveTrace(const WireTrace& trace, const std::string& tracePath, bool traceJson) {
    const std::string error =
        trace.WriteTo(PathFromText(tracePath), traceJson ? TraceFormat::Json : TraceFormat::Text);
    if (!error.empty()) {
        std::cerr << "velmorin-cli: cannot write the trace to " << TerminalSafe(tracePath) << ": "
                  << TerminalSafe(error) << '\n';
    }
}

int RunUpdateCommand(const std::string& path, const std::string& device, bool json,
                     const std::string& operatorName, const std::string& tracePath,
                     bool traceJson) {
    // A closed output (`| head`) must not end an upgrade half-way: writes
    // then fail, the run goes on, and the exit status says so.
    IgnoreClosedOutput();
    // The journal lives to the program's end: the ending request reaches it.
    static RunJournal journal(DefaultLedgerPath());
    EndUpgradesAtOnceOnInterrupt(journal, false);
    NonceSource nonces(
        static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));

    const std::string deviceName = DeviceNameFor(device);
    DeviceTable table;
    const DeviceTableRebuild rebuild = table.Rebuild(true, false);
    int selected = table.IndexOf(deviceName);
    if (selected < 0 && NamedPortOpens(deviceName)) {
        selected = table.AddNamedPort(deviceName);
    }
    if (selected < 0) {
        const std::string reason =
            "no device " + device +
            " is connected; `velmorin-cli list --include-com` shows the devices";
        if (!rebuild.discoveryError.empty()) {
            std::cerr << TerminalSafe(rebuild.discoveryError) << '\n';
        }
        if (json) {
            PrintJson({{"outcome", "no-device"}, {"message", reason}, {"device", device}});
        }
        std::cerr << "velmorin-cli update: " << TerminalSafe(reason) << '\n';
        return FinishOutput(2);
    }

    const DeviceEntry charger = table.At(selected);
    const std::string selectedName = charger.deviceName;
    const bool hid = IsHidDeviceName(selectedName);
    TerminalHost host(path, std::move(table), selected, json, hid ? kHidAttempts : kSerialAttempts);
    std::optional<WireTrace> trace;
    if (!tracePath.empty()) {
        host.RecordTraceInto(&trace.emplace());
    }
    RunPlan plan;
    plan.device = charger;
    plan.operatorName = operatorName;
    const RunRecord record = RunRecordedUpgrade(
        host, [&nonces](UpgradeHost& runHost) { return RunUpgradeForSelection(runHost, nonces); },
        std::move(plan), journal);
    const UpgradeReport& report = record.report;
    if (trace) {
        SaveTrace(*trace, tracePath, traceJson);
    }

    const std::vector<std::string> explanation = ExplainOutcome(report, hid, *record.file);
    for (const std::string& line : explanation) {
        std::cerr << TerminalSafe(line) << '\n';
    }
    // The final message, as the history and --json give it.
    std::string message = record.message;
    if (message.empty() && !explanation.empty()) {
        message = explanation.front();
    }
    if (journal.LedgerPath().empty() || !record.ledgerError.empty()) {
        ReportHistoryFailure(record.ledgerError);
    }

    const double seconds = report.elapsedMs / 1000.0;
    const double rate = seconds > 0 && report.outcome == UpgradeOutcome::Completed
                            ? static_cast<double>(report.payloadBytes) / seconds
                            : 0.0;
    if (json) {
        nlohmann::json out = {
            {"outcome", std::string(LedgerOutcomeName(LedgerOutcomeOf(report.outcome)))},
            {"message", message},
            {"device", selectedName},
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
        if (!explanation.empty()) {
            std::string reason;
            for (const std::string& line : explanation) {
                reason += (reason.empty() ? "" : "\n") + line;
            }
            out["reason"] = reason;
        }
        PrintJson(out);
    } else if (report.attempts > 0) {
        std::printf(
            "link: %d attempt%s, %llu %s, %llu resends, %llu time-outs,%s %.2f s, %.0f B/s\n",
            report.attempts, report.attempts == 1 ? "" : "s",
            static_cast<unsigned long long>(report.framesSent), hid ? "blocks" : "frames",
            static_cast<unsigned long long>(report.resends),
            static_cast<unsigned long long>(report.timeouts),
            report.deviceLost ? " device lost," : "", seconds, rate);
    }
    return FinishOutput(report.outcome == UpgradeOutcome::Completed ? 0 : 1);
}

}  // namespace velmorin::cli
