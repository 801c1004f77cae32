// SPDX-License-Identifier: MIT
// Several chargers upgraded at once from a terminal: each is a run of a
// ChargerBatch on a thread of its own. On a terminal each charger has one
// line, redrawn in place; in a file or a pipe each step, every tenth of the
// transfer and each message is a line of its own under the device's name.
// At the end a table (or, with --json, a JSON array) says how each run
// ended; every run has its line in the history.
#include "batch_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>

#include "console.h"
#include "device/device_name.h"
#include "device_argument.h"
#include "image/code_page.h"
#include "output.h"
#include "progress_text.h"
#include "protocol/upgrade_texts.h"
#include "session/charger_batch.h"
#include "session/ledger.h"
#include "session/run_journal.h"
#include "session/upgrade_dispatch.h"
#include "terminal_text.h"
#include "text_table.h"
#include "update_command.h"

namespace velmorin::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The live lines are redrawn at most five times a second, and at once when
// a step changes, a message comes or a run ends.
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr int kBarWidth = 24;

enum class Display {
    Live,   // standard output is a terminal: one line per charger, redrawn in place
    Lines,  // a file or a pipe: a line per event, under the device's name
    Quiet,  // --json: standard output holds the JSON alone; messages go to standard error
};

// A message without the line break it may end in: the line ends there anyway.
std::string_view WithoutFinalLineBreak(std::string_view text) {
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    return text;
}

// The terminal's width as the shell tells it, else the usual 80 columns. A
// live line never fills it: a line that wrapped would spoil the redraw.
std::size_t TerminalColumns() {
    if (const char* columns = std::getenv("COLUMNS")) {
        const long count = std::strtol(columns, nullptr, 10);
        if (count >= 20 && count <= 1000) {
            return static_cast<std::size_t>(count);
        }
    }
    return 80;
}

// One charger as the terminal shows it.
struct ChargerLine {
    std::string name;    // its device name, safe to print
    std::string serial;  // its serial number, UTF-8 and safe to print
    std::string step;    // the run's last status text
    int position = 0;    // the transfer's progress: position of maximum blocks
    int maximum = 0;
    int shownTenth = -1;      // in a pipe: the tenth of the transfer last printed
    std::string lastMessage;  // the text of the last message box
    std::optional<BatchResult> result;
};

// Shows what the runs tell, from their threads, one event at a time.
class BatchConsole : public BatchObserver {
public:
    BatchConsole(const std::vector<DeviceEntry>& chargers, Display display,
                 const std::vector<std::unique_ptr<WireTrace>>& traces)
        : m_display(display), m_columns(TerminalColumns()), m_traces(traces) {
        for (const DeviceEntry& charger : chargers) {
            ChargerLine line;
            line.name = TerminalSafeField(charger.deviceName);
            line.serial = TerminalSafeField(CodePageToUtf8(charger.serialText));
            m_nameWidth = std::max(m_nameWidth, TextColumns(line.name));
            m_serialWidth = std::max(m_serialWidth, TextColumns(line.serial));
            m_lines.push_back(std::move(line));
        }
        const std::lock_guard lock(m_mutex);
        Redraw(true);
    }

    void OnStatus(int run, const std::string& text) override {
        const std::lock_guard lock(m_mutex);
        ChargerLine* line = At(run);
        if (line == nullptr) {
            return;
        }
        line->step = text;
        line->shownTenth = -1;  // a new attempt shows its progress from the start
        if (m_display == Display::Lines) {
            std::cout << line->name << ": " << TerminalSafe(text) << std::endl;
        }
        Redraw(true);
    }

    void OnProgress(int run, int position, int maximum) override {
        const std::lock_guard lock(m_mutex);
        ChargerLine* line = At(run);
        if (line == nullptr || maximum <= 0) {
            return;
        }
        line->position = position;
        line->maximum = maximum;
        if (m_display == Display::Lines &&
            NextTenth(ProgressPercent(position, maximum), line->shownTenth)) {
            std::cout << line->name << ": " << ProgressLine(position, maximum) << std::endl;
        }
        Redraw(false);
    }

    void OnMessage(int run, std::string_view text, std::string_view caption,
                   MessageIcon icon) override {
        const std::lock_guard lock(m_mutex);
        ChargerLine* line = At(run);
        if (line == nullptr) {
            return;
        }
        line->lastMessage = text;
        Say(line->name + ": " + TerminalSafe(caption) + ": " +
                TerminalSafe(WithoutFinalLineBreak(text)),
            icon == MessageIcon::Error);
    }

    void OnFinished(int run, const BatchResult& result) override {
        const std::lock_guard lock(m_mutex);
        ChargerLine* line = At(run);
        if (line == nullptr) {
            return;
        }
        line->result = result;
        // What ended a run without a message box (a refused file, a device
        // that would not open) is said as well.
        if (result.report.outcome != UpgradeOutcome::Completed && !result.message.empty() &&
            result.message != line->lastMessage) {
            Say(line->name + ": " + TerminalSafe(WithoutFinalLineBreak(result.message)), true);
        } else {
            Redraw(true);
        }
    }

    // Draws the lines as the runs left them; call it after every run ended.
    void Close() {
        const std::lock_guard lock(m_mutex);
        Redraw(true);
    }

    std::vector<BatchResult> Results() const {
        const std::lock_guard lock(m_mutex);
        std::vector<BatchResult> results;
        for (const ChargerLine& line : m_lines) {
            if (line.result) {
                results.push_back(*line.result);
            }
        }
        return results;
    }

    WireTrace* TraceFor(int run) override {
        return run >= 0 && static_cast<std::size_t>(run) < m_traces.size()
                   ? m_traces[static_cast<std::size_t>(run)].get()
                   : nullptr;
    }

private:
    ChargerLine* At(int run) {
        if (run < 0 || static_cast<std::size_t>(run) >= m_lines.size()) {
            return nullptr;
        }
        return &m_lines[static_cast<std::size_t>(run)];
    }

    // A message: above the live lines on a terminal; else a line of its own,
    // on standard error for an error (and under --json), as `update` does
    // for one charger.
    void Say(const std::string& text, bool error) {
        switch (m_display) {
        case Display::Live:
            m_pending.push_back(text);
            Redraw(true);
            break;
        case Display::Lines:
            (error ? std::cerr : std::cout) << text << std::endl;
            break;
        case Display::Quiet:
            std::cerr << text << std::endl;
            break;
        }
    }

    std::string LiveLine(const ChargerLine& line) const {
        std::string step = TerminalSafeField(line.step);
        // A completed run shows the whole bar.
        const bool completed =
            line.result && line.result->report.outcome == UpgradeOutcome::Completed;
        const int position = completed ? 1 : line.position;
        const int maximum = completed ? 1 : line.maximum;
        const int percent = ProgressPercent(position, maximum);
        if (line.result) {
            const UpgradeReport& report = line.result->report;
            step = LedgerOutcomeName(LedgerOutcomeOf(report.outcome));
            if (completed) {
            } else if (!line.result->message.empty()) {
                step += ": " + TerminalSafeField(WithoutFinalLineBreak(line.result->message));
            }
        }
        std::string figure = "    ";
        if (maximum > 0) {
            figure = std::to_string(percent) + "%";
            figure.insert(0, 4 - figure.size(), ' ');
        }
        const std::string text =
            PadText(line.name, m_nameWidth) + "  " + PadText(line.serial, m_serialWidth) + "  " +
            ProgressBar(position, maximum, kBarWidth) + " " + figure + "  " + step;
        return ClipText(text, m_columns - 1);
    }

    // On a terminal: moves up to the first live line, clears the screen below,
    // prints the messages that came since, then the live lines afresh.
    void Redraw(bool now) {
        if (m_display != Display::Live) {
            return;
        }
        const Clock::time_point time = Clock::now();
        if (!now && time - m_lastDrawn < kRedrawInterval) {
            return;
        }
        m_lastDrawn = time;
        std::string out = "\r";
        if (m_drawnLines > 0) {
            out += "\x1b[" + std::to_string(m_drawnLines) + "A";
        }
        out += "\x1b[J";
        for (const std::string& message : m_pending) {
            out += message + '\n';
        }
        m_pending.clear();
        for (const ChargerLine& line : m_lines) {
            out += LiveLine(line) + '\n';
        }
        m_drawnLines = m_lines.size();
        std::cout << out << std::flush;
    }

    const Display m_display;
    const std::size_t m_columns;
    const std::vector<std::unique_ptr<WireTrace>>& m_traces;
    mutable std::mutex m_mutex;
    std::vector<ChargerLine> m_lines;
    std::size_t m_nameWidth = 0;
    std::size_t m_serialWidth = 0;
    std::vector<std::string> m_pending;
    std::size_t m_drawnLines = 0;
    Clock::time_point m_lastDrawn{};
};

std::optional<DeviceEntry> Listed(const std::vector<DeviceEntry>& entries,
                                  std::string_view deviceName) {
    for (const DeviceEntry& entry : entries) {
        if (SameDeviceName(entry.deviceName, deviceName)) {
            return entry;
        }
    }
    return std::nullopt;
}

void PrintJson(const nlohmann::json& out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::string Seconds(std::uint32_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", milliseconds / 1000.0);
    return text;
}

}  // namespace

int RunBatchUpdateCommand(const BatchUpdateOptions& options) {
    // As for one charger: a closed output must not end the runs half-way,
    // and Ctrl-C ends the program at once with the ports released.
    IgnoreClosedOutput();
    // The journal lives to the program's end: the ending request reaches it.
    static RunJournal journal(DefaultLedgerPath());
    EndUpgradesAtOnceOnInterrupt(journal, true);

    // --all takes the chargers the list shows; a plain serial port only
    // when it is named.
    LiveDeviceTable devices(!options.all);
    if (!devices.DiscoveryError().empty()) {
        std::cerr << TerminalSafe(devices.DiscoveryError()) << '\n';
    }
    std::vector<DeviceEntry> chargers;
    if (options.all) {
        for (const DeviceEntry& entry : devices.Entries()) {
            if (!entry.IsPlainPort()) {
                chargers.push_back(entry);
            }
        }
        if (chargers.empty()) {
            if (options.json) {
                PrintJson(nlohmann::json::array());
            }
            std::cerr << "velmorin-cli update: no charger is connected; `velmorin-cli list` "
                         "shows the devices\n";
            return FinishOutput(2);
        }
    } else {
        nlohmann::json missing = nlohmann::json::array();
        for (const std::string& device : options.devices) {
            const std::string deviceName = DeviceNameFor(device);
            std::optional<DeviceEntry> entry = Listed(devices.Entries(), deviceName);
            if (!entry && NamedPortOpens(deviceName) && devices.AddNamedPort(deviceName)) {
                entry = Listed(devices.Entries(), deviceName);
            }
            if (!entry) {
                const std::string reason =
                    "no device " + device +
                    " is connected; `velmorin-cli list --include-com` shows the devices";
                std::cerr << "velmorin-cli update: " << TerminalSafe(reason) << '\n';
                missing.push_back(
                    {{"device", device}, {"outcome", "no-device"}, {"message", reason}});
                continue;
            }
            // A charger named twice is upgraded once.
            if (!Listed(chargers, entry->deviceName)) {
                chargers.push_back(*entry);
            }
        }
        if (!missing.empty()) {
            if (options.json) {
                PrintJson(missing);
            }
            return FinishOutput(2);
        }
    }

    const Display display = options.json         ? Display::Quiet
                            : StdoutIsTerminal() ? Display::Live
                                                 : Display::Lines;
    const BatchSettings settings{options.path, options.operatorName, nullptr, false};
    if (journal.LedgerPath().empty()) {
        ReportHistoryFailure({});
    }
    // With --trace each run records its exchanges (runs are numbered in the
    // order they start, as the chargers are listed here).
    std::vector<std::unique_ptr<WireTrace>> traces;
    if (!options.tracePath.empty()) {
        for (std::size_t run = 0; run < chargers.size(); ++run) {
            traces.push_back(std::make_unique<WireTrace>());
        }
    }
    BatchConsole console(chargers, display, traces);
    // The file is pinned once for every charger: each gets the same bytes.
    ChargerBatch batch(settings, devices, console, journal);
    for (const DeviceEntry& charger : chargers) {
        batch.Start(charger);
    }
    batch.WaitAll();
    console.Close();
    // One trace per charger: FILE.COM201, FILE.HID0, ...
    if (!options.tracePath.empty()) {
        for (std::size_t run = 0; run < chargers.size(); ++run) {
            SaveTrace(*traces[run], options.tracePath + "." + chargers[run].deviceName,
                      options.traceFormat == "json");
        }
    }

    const std::vector<BatchResult> results = console.Results();
    bool allCompleted = results.size() == chargers.size();
    std::set<std::string> ledgerErrors;
    nlohmann::json out = nlohmann::json::array();
    std::vector<std::vector<std::string>> table = {
        {"DEVICE", "S/N", "OUTCOME", "MESSAGE", "ATTEMPTS", "TIME"}};
    for (const BatchResult& result : results) {
        const UpgradeReport& report = result.report;
        const std::string& name = result.device.deviceName;
        allCompleted = allCompleted && report.outcome == UpgradeOutcome::Completed;
        const std::vector<std::string> explanation =
            ExplainOutcome(report, IsHidDeviceName(name), batch.File());
        for (const std::string& line : explanation) {
            std::cerr << TerminalSafe(name) << ": " << TerminalSafe(line) << '\n';
        }
        if (!result.ledgerError.empty()) {
            ledgerErrors.insert(result.ledgerError);
        }
        const std::string message = !result.message.empty() ? result.message
                                    : !explanation.empty()  ? explanation.front()
                                                            : std::string();
        const std::string outcome(LedgerOutcomeName(LedgerOutcomeOf(report.outcome)));
        const std::string serial = CodePageToUtf8(result.device.serialText);
        if (options.json) {
            nlohmann::json run = {{"device", name},
                                  {"serial_number", serial},
                                  {"model", CodePageToUtf8(result.device.modelText)},
                                  {"outcome", outcome},
                                  {"message", message},
                                  {"attempts", report.attempts},
                                  {"elapsed_ms", report.elapsedMs},
                                  {"error_code", report.errorCode},
                                  {"frames", report.framesSent},
                                  {"resends", report.resends},
                                  {"timeouts", report.timeouts},
                                  {"device_lost", report.deviceLost},
                                  {"payload_bytes", report.payloadBytes}};
            if (!explanation.empty()) {
                std::string reason;
                for (const std::string& line : explanation) {
                    reason += (reason.empty() ? "" : "\n") + line;
                }
                run["reason"] = reason;
            }
            out.push_back(std::move(run));
        } else {
            table.push_back({TerminalSafeField(name), TerminalSafeField(serial), outcome,
                             TerminalSafeField(WithoutFinalLineBreak(message)),
                             std::to_string(report.attempts), Seconds(report.elapsedMs)});
        }
    }
    if (options.json) {
        PrintJson(out);
    } else {
        std::cout << '\n' << TextTable(table);
    }
    for (const std::string& error : ledgerErrors) {
        ReportHistoryFailure(error);
    }
    return FinishOutput(allCompleted ? 0 : 1);
}

}  // namespace velmorin::cli
