// SPDX-License-Identifier: MIT
// The production line's station: every charger that arrives is upgraded at
// once with the file pinned when the session began, in parallel with the
// others. A charger is done only when this station, or this computer's
// history, knows that this very charger (model and serial number) completed
// with these bytes; then it is never upgraded again when it restarts and
// comes back. A charger without a serial number cannot be known again: it is
// upgraded on each arrival, except the restart that follows its own
// completed run at the same place. One that failed is tried again only after
// it was unplugged and plugged back; one that another run holds waits until
// it is free. Chargers of another model than the one asked for are skipped.
// The station keeps one record per charger (a tile of the station window, a
// line of the terminal), its events and the session's tally. Toolkit-free:
// the windows and velmorin-cli only render it.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/charger_batch.h"
#include "session/ledger_completions.h"
#include "session/run_journal.h"

namespace velmorin {

// Names for the line's physical positions, keyed by udev's ID_PATH or by a
// device name: "Slot 3" instead of COM65.
class SlotNames {
public:
    SlotNames() = default;
    // Reads a slots file: one "KEY = NAME" per line, the key an ID_PATH
    // (pci-0000:00:14.0-usb-0:1.2:1.0) or a device name (COM65, HID0);
    // blank lines and lines starting with '#' are skipped. Nothing, with
    // `error` set to the file and line, when the file cannot be read or a
    // line is no such pair.
    static std::optional<SlotNames> Read(const std::filesystem::path& path, std::string& error);
    // Reads the pairs from text, as Read does from a file.
    static std::optional<SlotNames> Parse(std::string_view text, std::string& error);

    // The name for `device`: by its ID_PATH first, then by its device name;
    // empty when neither is named.
    std::string NameFor(const DeviceEntry& device) const;
    bool Empty() const { return m_names.empty(); }

private:
    std::map<std::string, std::string> m_names;
};

enum class StationState {
    Waiting,        // listed, not started yet (a failed one back before its retry)
    Upgrading,      // a run is on
    Done,           // completed with this file: in this session, or before (the history)
    Failed,         // the run failed; retried after it is unplugged and plugged back
    Skipped,        // another model than the one asked for
    BusyElsewhere,  // another run (another station on this computer) holds it
};

std::string_view StationStateName(StationState state);

// One charger as the station shows it. Two devices listed at the same time
// are two chargers, whatever their serial numbers say.
struct StationCharger {
    int id = 0;         // the record's number in this session, in order of arrival
    std::string label;  // its slot's name, else its device name
    DeviceEntry device;
    std::string slot;
    StationState state = StationState::Waiting;
    bool present = true;  // listed now
    std::string step;     // the run's last status text
    int position = 0;     // the transfer's progress: position of maximum
    int maximum = 0;
    std::string message;      // how its last run ended, or why it is not started
    int runs = 0;             // runs started for it in this session
    int failedRuns = 0;       // of those, runs that failed
    bool completed = false;   // a run of this session completed it
    bool doneBefore = false;  // the history says it completed with this file before
    std::optional<BatchResult> lastResult;
    // A charger without a serial number that comes back at its place before
    // this is its own restart after its completed run.
    std::chrono::steady_clock::time_point restartExpectedUntil{};
    // A serial charger whose port was held is tried again after this.
    std::chrono::steady_clock::time_point busyUntil{};
};

// The session's count, for the shift.
struct StationTally {
    int done = 0;        // chargers completed in this session
    int failed = 0;      // chargers that failed and never completed
    int failedRuns = 0;  // runs that failed
    int inProgress = 0;
    int skipped = 0;  // chargers not upgraded: another model, or done before
    int busy = 0;     // chargers held by another run now

    bool operator==(const StationTally&) const = default;
    // The station's exit status: 0 when no charger failed, else 1.
    int ExitStatus() const { return failed == 0 ? 0 : 1; }
};

struct StationSettings {
    BatchSettings batch;
    std::string model;  // only chargers whose model text holds this; empty: every charger
    SlotNames slotNames;
    // The station stops starting chargers after this many completions; 0:
    // never.
    int stopAfter = 0;
    // Chargers that the history shows completed with this file are
    // upgraded again.
    bool again = false;
};

// What happened to a charger.
enum class StationChange {
    Arrived,   // listed (first or again)
    Left,      // no longer listed
    Started,   // a run began
    Step,      // the run's status text changed
    Progress,  // the transfer moved on
    Finished,  // a run ended; `lastResult` holds how
    State,     // not started after all: done before, or busy elsewhere
};

// What the station tells its window or terminal. Calls come from any
// thread (the runs' own among them), one at a time.
class StationListener {
public:
    virtual ~StationListener() = default;
    virtual void OnChargerChanged(const StationCharger& charger, StationChange change) = 0;
    // A run's message box (the window shows it on the tile, the terminal
    // prints it).
    virtual void OnRunMessage(const StationCharger& /*charger*/, std::string_view /*text*/,
                              std::string_view /*caption*/, MessageIcon /*icon*/) {}
    // Something the operator should know of the session (the file changed
    // on disk, the count was reached).
    virtual void OnNotice(std::string_view /*text*/) {}
};

class Station : private BatchObserver {
public:
    // Pins the file; the runs are recorded in `journal`, whose history also
    // tells which chargers completed with this file before.
    Station(StationSettings settings, LiveDeviceTable& devices, StationListener& listener,
            RunJournal& journal);
    // Waits for the runs under way.
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The file every run of this session sends.
    const PinnedFile& File() const { return m_batch.File(); }

    // Looks at the device list as it stands (after a Refresh of the table
    // when the devices changed): starts each charger that is due, marks the
    // ones that left, and notices a change of the file on disk. Call it on
    // every device change and now and then.
    void Scan();
    // No charger is started any more; the runs under way go on.
    void StopStarting();
    bool Starting() const;
    // Waits until the runs under way have ended.
    void WaitForRuns() { m_batch.WaitAll(); }

    StationTally Tally() const;
    std::vector<StationCharger> Chargers() const;

private:
    void OnStatus(int run, const std::string& text) override;
    void OnProgress(int run, int position, int maximum) override;
    void OnMessage(int run, std::string_view text, std::string_view caption,
                   MessageIcon icon) override;
    void OnFinished(int run, const BatchResult& result) override;
    StationCharger* ChargerOfRun(int run);
    bool ModelWanted(const DeviceEntry& device) const;
    StationCharger& Arrive(const DeviceEntry& entry);
    void StartIfDue(StationCharger& charger);
    bool KeyPresentElsewhere(const StationCharger& charger) const;
    void NoticeFileChange();

    StationSettings m_settings;
    LiveDeviceTable& m_devices;
    StationListener& m_listener;
    mutable std::recursive_mutex m_mutex;
    std::vector<StationCharger> m_chargers;  // in order of arrival
    std::map<int, int> m_runCharger;         // run number -> charger id
    std::unique_ptr<LedgerCompletions> m_completions;
    bool m_starting = true;
    bool m_fileChangeTold = false;
    int m_completedRuns = 0;
    // Last; it waits for the runs, whose calls reach the members above.
    ChargerBatch m_batch;
};

}  // namespace velmorin
