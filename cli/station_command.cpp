// SPDX-License-Identifier: MIT
// The production line from a terminal: the station upgrades each charger
// that arrives, and its events show as a live block of one line per charger
// on a terminal, as one plain line per event in a pipe, or as one JSON
// object per line. The first Ctrl-C stops starting chargers and lets the
// runs under way end; a second one ends the program at once.
#include "station_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "console.h"
#include "device/serial_port.h"
#include "image/file_info_display.h"
#include "image/file_path.h"
#include "image/update_image.h"
#include "output.h"
#include "progress_text.h"
#include "session/ledger.h"
#include "session/run_journal.h"
#include "session/station.h"
#include "session/upgrade_record.h"
#include "terminal_text.h"
#include "update_command.h"

namespace velmorin::cli {
namespace {

// The loop looks for ending requests every tick, and scans the devices and
// redraws the terminal's block every fourth (about five times a second).
constexpr auto kTick = std::chrono::milliseconds(50);
constexpr int kTicksPerScan = 4;

std::string Plural(int count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string TallyText(const StationTally& tally) {
    std::string text = "done " + std::to_string(tally.done) + ", failed " +
                       std::to_string(tally.failed) + ", in progress " +
                       std::to_string(tally.inProgress) + ", skipped " +
                       std::to_string(tally.skipped);
    if (tally.failedRuns > tally.failed) {
        text += " (" + Plural(tally.failedRuns, "failed run", "failed runs") + ")";
    }
    if (tally.busy > 0) {
        text += ", busy elsewhere " + std::to_string(tally.busy);
    }
    return text;
}

// `text` cut to `width` characters (UTF-8), so that a line of the block
// never wraps, and with `pad` filled up to them, so that its columns line up.
std::string Fit(const std::string& text, std::size_t width, bool pad = true) {
    std::string fitted;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && characters++ == width) {
            return fitted;
        }
        fitted += text[i];
    }
    return pad ? fitted + std::string(width - characters, ' ') : fitted;
}

int PercentOf(const StationCharger& charger) {
    return ProgressPercent(charger.position, charger.maximum);
}

// One charger's line of the terminal's block: label, serial number, bar,
// state or step, and a figure.
std::string BlockLine(const StationCharger& charger) {
    const std::string bar = ProgressBar(charger.position, charger.maximum, 20);
    std::string state = charger.state == StationState::Upgrading && !charger.step.empty()
                            ? charger.step
                            : std::string(StationStateName(charger.state));
    std::string figure;
    if (charger.state == StationState::Upgrading || charger.state == StationState::Done) {
        figure = charger.maximum > 0 ? std::to_string(PercentOf(charger)) + "%" : "";
    } else {
        figure = charger.message;
    }
    if (!charger.present) {
        figure += figure.empty() ? "(away)" : " (away)";
    }
    const std::string line = Fit(TerminalSafeField(charger.label), 12) + " " +
                             Fit(TerminalSafeField(charger.device.serialText), 10) + " " + bar +
                             " " + Fit(TerminalSafeField(state), 14) + " " +
                             TerminalSafeField(figure);
    // Short of 80 columns, so that no terminal wraps it.
    std::string fitted = Fit(line, 79, false);
    fitted.erase(fitted.find_last_not_of(' ') + 1);
    return fitted;
}

// One thing that happened at the station, in each of its forms.
struct StationEvent {
    nlohmann::ordered_json json;  // null: none (a note that only people read)
    std::string text;             // the plain line, the charger's label first
    bool error = false;           // the plain line belongs on standard error
    bool logged = false;          // on a terminal it is printed above the block too
};

// Turns the station's events into lines. Calls come from the runs'
// threads and the loop's (one at a time, under the station's lock); the
// loop takes the lines and the records from here to print them.
class StationEvents : public StationListener {
public:
    void OnChargerChanged(const StationCharger& charger, StationChange change) override {
        const std::lock_guard lock(m_mutex);
        auto [found, first] = m_shown.try_emplace(charger.id);
        Shown& shown = found->second;
        if (first) {
            m_order.push_back(charger.id);
        }
        shown.last = charger;
        m_changed = true;
        switch (change) {
        case StationChange::Arrived:
            Add(charger, "arrived", ArrivalText(charger));
            if (first && charger.state == StationState::Skipped) {
                StationEvent& skipped = Add(charger, "skipped", "skipped: " + charger.message);
                skipped.json["message"] = charger.message;
                skipped.logged = true;
            }
            break;
        case StationChange::Left:
            Add(charger, "left", "left");
            break;
        case StationChange::Started: {
            StationEvent& started = Add(charger, "started", "started");
            started.json["run"] = charger.runs;
            shown.decile = -1;
            break;
        }
        case StationChange::Step:
            if (!charger.step.empty()) {
                StationEvent& step = Add(charger, "step", charger.step);
                step.json["step"] = charger.step;
            }
            break;
        case StationChange::Progress: {
            // Every tenth of the way, as the single update prints it.
            const int percent = PercentOf(charger);
            if (charger.maximum > 0 && NextTenth(percent, shown.decile)) {
                StationEvent& progress =
                    Add(charger, "progress", ProgressLine(charger.position, charger.maximum));
                progress.json["percent"] = percent;
                progress.json["position"] = charger.position;
                progress.json["maximum"] = charger.maximum;
            }
            break;
        }
        case StationChange::State: {
            const bool busy = charger.state == StationState::BusyElsewhere;
            StationEvent& state = Add(charger, busy ? "busy" : "done-before", charger.message);
            state.json["message"] = charger.message;
            state.logged = true;
            break;
        }
        case StationChange::Finished:
            Finished(charger);
            break;
        }
    }

    void OnNotice(std::string_view text) override {
        const std::lock_guard lock(m_mutex);
        StationEvent note;
        note.json = {{"event", "notice"}, {"message", text}};
        note.text = TerminalSafeField(text);
        note.error = true;
        m_events.push_back(std::move(note));
    }

    // The events since the last call.
    std::vector<StationEvent> TakeEvents() {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_events, {});
    }

    // The chargers in the order they arrived, when anything changed since
    // the last call.
    std::optional<std::vector<StationCharger>> ChangedChargers() {
        const std::lock_guard lock(m_mutex);
        if (!std::exchange(m_changed, false)) {
            return std::nullopt;
        }
        std::vector<StationCharger> chargers;
        for (const int id : m_order) {
            chargers.push_back(m_shown.at(id).last);
        }
        return chargers;
    }

private:
    struct Shown {
        StationCharger last;
        int decile = -1;  // the tenth of the transfer last told
    };

    void Finished(const StationCharger& charger) {
        if (!charger.lastResult) {
            return;
        }
        const BatchResult& result = *charger.lastResult;
        const UpgradeReport& report = result.report;
        char figures[64];
        std::snprintf(figures, sizeof figures, " [%s, %.2f s]",
                      Plural(report.attempts, "attempt", "attempts").c_str(),
                      report.elapsedMs / 1000.0);
        const bool busy = charger.state == StationState::BusyElsewhere;
        const std::string word = charger.state == StationState::Done ? "done" : "failed";
        // A charger held by another run: its message says so.
        const std::string text =
            busy ? charger.message : word + (result.message.empty() ? "" : ": " + result.message);
        StationEvent& finished = Add(charger, "finished", text + figures);
        finished.logged = true;
        finished.json["outcome"] = LedgerOutcomeName(LedgerOutcomeOf(report.outcome));
        finished.json["message"] = busy ? charger.message : result.message;
        finished.json["attempts"] = report.attempts;
        finished.json["elapsed_ms"] = report.elapsedMs;
        finished.json["run_id"] = result.runId;
        if (report.errorCode != 0) {
            finished.json["error_code"] = report.errorCode;
        }
        if (!result.ledgerError.empty()) {
            // The run's outcome stands; only its line is missing from the
            // history.
            finished.json["ledger_error"] = result.ledgerError;
            StationEvent note;
            note.text = Label(charger) + ": " + TerminalSafeField(result.ledgerError);
            note.error = true;
            m_events.push_back(std::move(note));
        }
    }

    static std::string Label(const StationCharger& charger) {
        return TerminalSafeField(charger.label);
    }

    static std::string ArrivalText(const StationCharger& charger) {
        std::string text = "arrived: " + charger.device.modelText;
        text += charger.device.serialText.empty() ? ", no serial number"
                                                  : ", S/N " + charger.device.serialText;
        return text + " (" + charger.device.deviceName + ")";
    }

    StationEvent& Add(const StationCharger& charger, std::string_view kind,
                      const std::string& text) {
        StationEvent event;
        event.json = {{"event", kind},
                      {"charger", charger.id},
                      {"device", charger.device.deviceName},
                      {"slot", charger.slot},
                      {"serial_number", charger.device.serialText},
                      {"model", charger.device.modelText}};
        event.text = Label(charger) + ": " + TerminalSafeField(text);
        m_events.push_back(std::move(event));
        return m_events.back();
    }

    mutable std::mutex m_mutex;
    std::map<int, Shown> m_shown;
    std::vector<int> m_order;
    std::vector<StationEvent> m_events;
    bool m_changed = false;
};

// Where the events go: JSON lines, plain lines, or the terminal's block with
// the lines that stay printed above it.
class StationOutput {
public:
    StationOutput(bool json, bool terminal) : m_json(json), m_terminal(terminal && !json) {}

    // People's text: on standard output, or on standard error under --json
    // (whose standard output carries the JSON alone) and for notes.
    void Say(const std::string& text, bool error = false) {
        EraseBlock();
        std::ostream& out = m_json || error ? std::cerr : std::cout;
        out << text << std::endl;
        m_redraw = m_terminal;
    }

    void Json(const nlohmann::ordered_json& object) {
        std::cout << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                  << std::endl;
    }

    void Show(const std::vector<StationEvent>& events) {
        for (const StationEvent& event : events) {
            if (m_json && !event.json.is_null()) {
                Json(event.json);
                if (event.error) {
                    Say(event.text, true);
                }
            } else if (!m_terminal || event.logged || event.error) {
                Say(event.text, event.error);
            }
        }
    }

    // The tally at the end: the block's last line already shows it on a
    // terminal.
    void Tally(const StationTally& tally) {
        if (m_json) {
            Json({{"event", "tally"},
                  {"done", tally.done},
                  {"failed", tally.failed},
                  {"failed_runs", tally.failedRuns},
                  {"in_progress", tally.inProgress},
                  {"skipped", tally.skipped},
                  {"busy", tally.busy}});
        }
        if (!m_terminal) {
            Say(TallyText(tally));
        }
    }

    // True on a terminal whose block was taken away for lines above it.
    bool Erased() const { return m_redraw; }

    // Draws the block afresh on a terminal: the chargers' lines and the
    // tally.
    void Draw(const std::optional<std::vector<StationCharger>>& chargers,
              const StationTally& tally) {
        if (!m_terminal) {
            return;
        }
        if (chargers) {
            m_block.clear();
            for (const StationCharger& charger : *chargers) {
                m_block.push_back(BlockLine(charger));
            }
        } else if (!m_redraw && tally == m_tally) {
            return;
        }
        m_tally = tally;
        MoveToBlock();
        for (const std::string& line : m_block) {
            std::printf("\x1b[2K%s\n", line.c_str());
        }
        std::printf("\x1b[2K%s\n\x1b[J", TallyText(tally).c_str());
        std::fflush(stdout);
        m_shownLines = static_cast<int>(m_block.size()) + 1;
        m_redraw = false;
    }

private:
    // Back to the block's first line, so that what comes next replaces it.
    void MoveToBlock() {
        if (m_shownLines > 0) {
            std::printf("\x1b[%dF", m_shownLines);
            m_shownLines = 0;
        }
    }
    void EraseBlock() {
        if (m_terminal && m_shownLines > 0) {
            MoveToBlock();
            std::printf("\x1b[J");
            std::fflush(stdout);
        }
    }

    bool m_json;
    bool m_terminal;
    std::vector<std::string> m_block;
    StationTally m_tally;
    int m_shownLines = 0;
    bool m_redraw = false;
};

}  // namespace

int RunStationCommand(const StationCommandOptions& options) {
    // A closed output must not end the upgrades under way.
    IgnoreClosedOutput();

    StationSettings settings;
    settings.model = options.model;
    if (!options.slotsPath.empty()) {
        std::string error;
        std::optional<SlotNames> slots = SlotNames::Read(PathFromText(options.slotsPath), error);
        if (!slots) {
            std::cerr << "velmorin-cli station: " << TerminalSafe(error) << '\n';
            return 2;
        }
        settings.slotNames = std::move(*slots);
    }

    StationOutput output(options.json, StdoutIsTerminal());
    // The file is read, checked and hashed once: every charger of the
    // session gets these bytes, and the history describes them.
    const auto pinned = std::make_shared<const PinnedFile>(options.path);
    const UpgradedFile& file = pinned->Description();
    if (!pinned->Accepted()) {
        // A rejected file starts no charger.
        const std::string reason = pinned->Rejection();
        if (options.json) {
            output.Json({{"event", "file"},
                         {"file", options.path},
                         {"accepted", false},
                         {"reason", reason}});
        }
        std::cerr << TerminalSafe(reason) << '\n';
        return FinishOutput(1);
    }
    const SealedForm form = pinned->Form();

    settings.batch.filePath = options.path;
    settings.batch.file = pinned;
    settings.batch.operatorName = options.operatorName;
    settings.stopAfter = options.count;
    settings.again = options.again;

    // Requests to end are noted from here on: the loop below stops starting
    // chargers on the first. The journal lives to the program's end: the
    // second request reaches it.
    static RunJournal journal(DefaultLedgerPath());
    const EndingRequests requests;
    StationEvents events;
    LiveDeviceTable devices(false);
    Station station(std::move(settings), devices, events, journal);

    if (options.json) {
        output.Json({{"event", "file"},
                     {"file", options.path},
                     {"accepted", true},
                     {"version", file.version},
                     {"type", file.type},
                     {"memo", file.memo},
                     {"form", form == SealedForm::WholeFile ? "whole-file" : "header"},
                     {"sha256", file.sha256}});
    }
    output.Say("File: " + TerminalSafeField(options.path));
    output.Say("Version: " + TerminalSafeField(file.version));
    output.Say("Type: " + TerminalSafeField(file.type));
    output.Say("Memo: " + TerminalSafeField(file.memo));
    if (form == SealedForm::HeaderOnly) {
        output.Say("Chargers: HID only (a serial charger takes the whole-file form alone)");
    }
    const std::filesystem::path& ledgerPath = journal.LedgerPath();
    output.Say(ledgerPath.empty() ? "History: none is kept (no home folder is known)"
                                  : "History: " + TerminalSafeField(TextOfPath(ledgerPath)));
    output.Say(options.count > 0 ? "Waiting for chargers (" +
                                       Plural(options.count, "completion ends", "completions end") +
                                       " the station, Ctrl-C stops it)..."
                                 : "Waiting for chargers (Ctrl-C stops the station)...");

    bool stopping = false;
    std::string discoveryError;
    for (int tick = 0;; ++tick) {
        if (!stopping && EndingRequests::Received()) {
            stopping = true;
            station.StopStarting();
            EndUpgradesAtOnceOnInterrupt(journal, true);
            const int underWay = station.Tally().inProgress;
            if (underWay > 0) {
                output.Say("Stopping: " +
                               Plural(underWay, "upgrade under way is", "upgrades under way are") +
                               " let finish; Ctrl-C again to close " +
                               (underWay == 1 ? "it" : "them") + " at once.",
                           true);
            }
        }
        const bool scanning = tick % kTicksPerScan == 0;
        if (scanning) {
            // Once nothing is started any more, the scan still follows the
            // chargers coming and going.
            {
                // The runs that a scan starts never see a request to end.
                const EndingRequestsKeptFromNewThreads keep;
                station.Scan();
            }
            const std::string error = devices.DiscoveryError();
            if (error != discoveryError && !error.empty()) {
                output.Say(TerminalSafe(error), true);
            }
            discoveryError = error;
        }
        output.Show(events.TakeEvents());
        const StationTally tally = station.Tally();
        if (scanning || output.Erased()) {
            output.Draw(events.ChangedChargers(), tally);
        }
        if (!station.Starting() && tally.inProgress == 0) {
            break;
        }
        std::this_thread::sleep_for(kTick);
    }
    station.WaitForRuns();

    output.Show(events.TakeEvents());
    const StationTally tally = station.Tally();
    output.Draw(events.ChangedChargers(), tally);
    output.Tally(tally);
    return FinishOutput(tally.ExitStatus());
}

}  // namespace velmorin::cli
