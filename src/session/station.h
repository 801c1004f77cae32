// SPDX-License-Identifier: MIT
// The production line's station: every charger that arrives is upgraded at
// once with the chosen file, in parallel with the others. A charger that
// completed in this session (same model and serial number) is shown as done
// and never upgraded again when it restarts and comes back; one that failed
// is tried again only after it was unplugged and plugged back. Chargers of
// another model than the one asked for are shown as skipped. The station
// keeps one record per charger (a tile of the station window, a line of the
// terminal) and a tally. Toolkit-free: the window and velmorin-cli drive it.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/charger_batch.h"

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
    Waiting,    // listed, not started yet (a failed one back before its retry)
    Upgrading,  // a run is on
    Done,       // completed with this file in this session
    Failed,     // the run failed; retried after it is unplugged and plugged back
    Skipped,    // another model than the one asked for
};

std::string_view StationStateName(StationState state);

// One charger as the station shows it.
struct StationCharger {
    std::string key;    // what tells it from the others: model and serial number, else its name
    std::string label;  // its slot's name, else its device name
    DeviceEntry device;
    std::string slot;
    StationState state = StationState::Waiting;
    bool present = true;  // listed now
    std::string step;     // the run's last status text
    int position = 0;     // the transfer's progress: position of maximum
    int maximum = 0;
    std::string message;  // how its last run ended
    int runs = 0;         // runs started for it in this session
    std::optional<BatchResult> lastResult;
};

struct StationTally {
    int done = 0;
    int failed = 0;
    int inProgress = 0;
    int skipped = 0;
};

struct StationSettings {
    BatchSettings batch;
    std::string model;  // only chargers whose model text holds this; empty: every charger
    SlotNames slotNames;
    // Chargers (StationKey) that completed with this file at this station
    // before it was stopped and started again: shown as done when they
    // arrive, and never upgraded again.
    std::vector<std::string> doneBefore;
};

// What the station tells its window or terminal. Calls come from any
// thread (the runs' own among them), one at a time.
class StationListener {
public:
    virtual ~StationListener() = default;
    // A charger's record changed (it arrived, left, started, moved on).
    virtual void OnChargerChanged(const StationCharger& charger) = 0;
    // A run's message box (the window shows it on the tile, the terminal
    // prints it).
    virtual void OnRunMessage(const StationCharger& /*charger*/, std::string_view /*text*/,
                              std::string_view /*caption*/, MessageIcon /*icon*/) {}
    // A run ended; `charger` holds its result.
    virtual void OnRunFinished(const StationCharger& /*charger*/) {}
};

class Station : private BatchObserver {
public:
    Station(StationSettings settings, LiveDeviceTable& devices, StationListener& listener);
    // Waits for the runs under way.
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    const UpgradedFile& File() const { return m_batch.File(); }

    // Looks at the device list as it stands (after a Refresh of the table
    // when the devices changed): starts each charger that is due, marks the
    // ones that left. Call it on every device change and now and then.
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

    StationSettings m_settings;
    LiveDeviceTable& m_devices;
    StationListener& m_listener;
    mutable std::recursive_mutex m_mutex;
    std::vector<StationCharger> m_chargers;   // in order of arrival
    std::map<int, std::size_t> m_runCharger;  // run number -> index in m_chargers
    bool m_starting = true;
    // Last; it waits for the runs, whose calls reach the members above.
    ChargerBatch m_batch;
};

// What tells one charger from another at the station: model and serial
// number, else (no serial number) its device name.
std::string StationKey(const DeviceEntry& device);

}  // namespace velmorin
