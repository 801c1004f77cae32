// SPDX-License-Identifier: MIT
// Many chargers upgraded at once: each run is the same serial or HID
// procedure that the Update command runs, on a thread of its own with its
// own host, channel, nonces and result, so one failing never stops another.
// The runs share one device table, rebuilt when the devices change, through
// which a charger that restarts is found again by its model and serial
// number. The file is pinned when the batch begins: every charger gets the
// same bytes, and the history describes them; each run is recorded in the
// program's journal as it begins and ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/device_watcher.h"
#include "device/port_discovery.h"
#include "device/wire_trace.h"
#include "image/file_info_display.h"
#include "protocol/upgrade_report.h"
#include "session/device_table.h"
#include "session/recorded_run.h"
#include "session/run_journal.h"
#include "session/upgrade_record.h"

namespace velmorin {

// The device table that runs at once share, safe from any thread.
class LiveDeviceTable {
public:
    // Lists the devices at once (plain ports with `includeComPorts`) and,
    // with `watch`, follows their changes.
    explicit LiveDeviceTable(bool includeComPorts, DiscoverPorts discover = EnumeratePorts,
                             bool watch = true);
    ~LiveDeviceTable();
    LiveDeviceTable(const LiveDeviceTable&) = delete;
    LiveDeviceTable& operator=(const LiveDeviceTable&) = delete;

    // Rebuilds the table when the devices changed since it was last built;
    // true when it did.
    bool Refresh();
    // Rebuilds the table now.
    void Rebuild();
    std::vector<DeviceEntry> Entries() const;
    // Counts the rebuilds, so that a reader can tell a table it has seen.
    std::uint64_t Generation() const;
    // Why the last discovery failed; empty when it ran.
    std::string DiscoveryError() const;
    // Adds a serial port that discovery does not list but that opens by its
    // name (DeviceTable::AddNamedPort); false when it could not be added.
    bool AddNamedPort(std::string_view deviceName);

private:
    mutable std::mutex m_mutex;
    bool m_includeComPorts;
    DiscoverPorts m_discover;
    std::unique_ptr<DeviceWatcher> m_watcher;
    DeviceTable m_table;
    std::vector<std::string> m_namedPorts;
    std::string m_discoveryError;
    std::uint64_t m_generation = 0;
};

// One charger's run and how it ended.
struct BatchResult {
    DeviceEntry device;  // as the run began
    std::string slot;    // the position's name, if any
    std::string runId;   // the run's lines in the history
    UpgradeReport report;
    // The final message: the message box's text, else what ended the run
    // (the file's rejection, why the device did not open).
    std::string message;
    // Why the history could not take the run's line; empty when it did (or
    // when no history is kept).
    std::string ledgerError;
};

// What the runs tell their owner. Calls come from the runs' own threads,
// several at once; an observer serialises what it needs to.
class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    virtual void OnStatus(int /*run*/, const std::string& /*text*/) {}
    // The transfer's progress: `position` of `maximum` blocks.
    virtual void OnProgress(int /*run*/, int /*position*/, int /*maximum*/) {}
    // A message box that the window would show for this run.
    virtual void OnMessage(int /*run*/, std::string_view /*text*/, std::string_view /*caption*/,
                           MessageIcon /*icon*/) {}
    // The run ended; its outcome line is in the history by now.
    virtual void OnFinished(int run, const BatchResult& result) = 0;
    // Where run `run` records its exchanges with the charger; none by
    // default. Asked once, from the run's thread, as the run begins.
    virtual WireTrace* TraceFor(int /*run*/) { return nullptr; }
};

struct BatchSettings {
    std::string filePath;      // the update file, as the operator gave it
    std::string operatorName;  // empty: the user's name
    // The file read already (to show it before the batch begins); nullptr:
    // the batch reads `filePath` as it begins.
    std::shared_ptr<const PinnedFile> file;
    // A run that finds its charger held by another run leaves no record.
    bool quietWhenBusy = false;
};

class ChargerBatch {
public:
    // Pins the file at once (unless the settings hold it pinned). Runs are
    // recorded in `journal`.
    ChargerBatch(BatchSettings settings, LiveDeviceTable& devices, BatchObserver& observer,
                 RunJournal& journal);
    // Waits for every run to end.
    ~ChargerBatch();
    ChargerBatch(const ChargerBatch&) = delete;
    ChargerBatch& operator=(const ChargerBatch&) = delete;

    // The update file as it was when the batch began: what every run sends.
    const PinnedFile& File() const { return *m_file; }

    // Starts upgrading `device` at once on a thread of its own; the run's
    // number (0, 1, ...), which the observer's calls carry.
    int Start(const DeviceEntry& device, std::string slot = {});
    // Runs started and not yet finished.
    int Running() const;
    // Waits until every run started so far has ended.
    void WaitAll();

private:
    struct Run;
    void Execute(Run& run);
    void JoinFinished();

    BatchSettings m_settings;
    LiveDeviceTable& m_devices;
    BatchObserver& m_observer;
    RunJournal& m_journal;
    std::shared_ptr<const PinnedFile> m_file;
    mutable std::mutex m_mutex;
    std::list<std::unique_ptr<Run>> m_runs;
    int m_started = 0;
    std::atomic<int> m_running{0};
};

}  // namespace velmorin
