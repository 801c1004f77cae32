// SPDX-License-Identifier: MIT
// The station's rules over the shared device table and a batch of runs.
#include "session/station.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "image/file_path.h"

namespace velmorin {
namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<SlotNames> SlotNames::Parse(std::string_view text, std::string& error) {
    SlotNames names;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line =
            Trimmed(text.substr(0, end == std::string_view::npos ? text.size() : end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string_view key =
            equals == std::string_view::npos ? std::string_view() : Trimmed(line.substr(0, equals));
        const std::string_view name = equals == std::string_view::npos
                                          ? std::string_view()
                                          : Trimmed(line.substr(equals + 1));
        if (key.empty() || name.empty()) {
            error = "line " + std::to_string(lineNumber) +
                    " is not \"KEY = NAME\" (KEY an ID_PATH or a device name such as COM65)";
            return std::nullopt;
        }
        names.m_names[std::string(key)] = std::string(name);
    }
    return names;
}

std::optional<SlotNames> SlotNames::Read(const std::filesystem::path& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the slots file " + TextOfPath(path);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto names = Parse(text.str(), error);
    if (!names) {
        error = TextOfPath(path) + ": " + error;
    }
    return names;
}

std::string SlotNames::NameFor(const DeviceEntry& device) const {
    if (!device.physicalPath.empty()) {
        if (const auto found = m_names.find(device.physicalPath); found != m_names.end()) {
            return found->second;
        }
    }
    const auto found = m_names.find(device.deviceName);
    return found != m_names.end() ? found->second : std::string();
}

std::string_view StationStateName(StationState state) {
    switch (state) {
    case StationState::Waiting:
        return "waiting";
    case StationState::Upgrading:
        return "upgrading";
    case StationState::Done:
        return "done";
    case StationState::Failed:
        return "failed";
    case StationState::Skipped:
        return "skipped";
    }
    return "waiting";
}

std::string StationKey(const DeviceEntry& device) {
    return device.serialText.empty() ? "\n" + device.deviceName
                                     : device.modelText + "\n" + device.serialText;
}

Station::Station(StationSettings settings, LiveDeviceTable& devices, StationListener& listener)
    : m_settings(std::move(settings)),
      m_devices(devices),
      m_listener(listener),
      m_batch(m_settings.batch, devices, *this) {}

Station::~Station() {
    StopStarting();
    m_batch.WaitAll();
}

bool Station::ModelWanted(const DeviceEntry& device) const {
    return m_settings.model.empty() || device.modelText.find(m_settings.model) != std::string::npos;
}

void Station::Scan() {
    m_devices.Refresh();
    const std::vector<DeviceEntry> entries = m_devices.Entries();
    const std::lock_guard lock(m_mutex);
    std::vector<bool> listed(m_chargers.size(), false);
    for (const DeviceEntry& entry : entries) {
        // The station upgrades chargers; plain serial ports are not its own.
        if (entry.IsPlainPort()) {
            continue;
        }
        const std::string key = StationKey(entry);
        std::size_t index = 0;
        while (index < m_chargers.size() && m_chargers[index].key != key) {
            ++index;
        }
        if (index == m_chargers.size()) {
            StationCharger charger;
            charger.key = key;
            charger.device = entry;
            charger.slot = m_settings.slotNames.NameFor(entry);
            charger.label = !charger.slot.empty() ? charger.slot : entry.deviceName;
            charger.present = false;  // so that it counts as arriving below
            charger.state = ModelWanted(entry) ? StationState::Waiting : StationState::Skipped;
            if (charger.state == StationState::Skipped) {
                charger.message = "not a " + m_settings.model;
            } else if (std::find(m_settings.doneBefore.begin(), m_settings.doneBefore.end(), key) !=
                       m_settings.doneBefore.end()) {
                charger.state = StationState::Done;
                charger.message = "done before";
            }
            m_chargers.push_back(std::move(charger));
            listed.push_back(false);
        }
        listed[index] = true;
        StationCharger& charger = m_chargers[index];
        const bool arrived = !charger.present;
        const bool renamed = charger.device.deviceName != entry.deviceName;
        charger.present = true;
        if (charger.state != StationState::Upgrading) {
            charger.device = entry;
            if (renamed) {
                charger.slot = m_settings.slotNames.NameFor(entry);
                charger.label = !charger.slot.empty() ? charger.slot : entry.deviceName;
            }
        }
        // A failed charger is started again only once it came back after
        // being away; a finished one keeps its state when it restarts.
        const bool due = m_starting && charger.state == StationState::Waiting;
        if (due) {
            charger.state = StationState::Upgrading;
            charger.step.clear();
            charger.position = 0;
            charger.maximum = 0;
            charger.message.clear();
            ++charger.runs;
            const int run = m_batch.Start(charger.device, charger.slot);
            m_runCharger[run] = index;
        }
        if (due || arrived || renamed) {
            m_listener.OnChargerChanged(charger);
        }
    }
    for (std::size_t index = 0; index < m_chargers.size(); ++index) {
        StationCharger& charger = m_chargers[index];
        if (listed[index] || !charger.present) {
            continue;
        }
        // Away: a restart during or after a run, or unplugged. A failed
        // charger that comes back is tried again.
        charger.present = false;
        if (charger.state == StationState::Failed) {
            charger.state = StationState::Waiting;
        }
        m_listener.OnChargerChanged(charger);
    }
}

void Station::StopStarting() {
    const std::lock_guard lock(m_mutex);
    m_starting = false;
}

bool Station::Starting() const {
    const std::lock_guard lock(m_mutex);
    return m_starting;
}

StationTally Station::Tally() const {
    const std::lock_guard lock(m_mutex);
    StationTally tally;
    for (const StationCharger& charger : m_chargers) {
        switch (charger.state) {
        case StationState::Done:
            ++tally.done;
            break;
        case StationState::Failed:
            ++tally.failed;
            break;
        case StationState::Upgrading:
            ++tally.inProgress;
            break;
        case StationState::Skipped:
            ++tally.skipped;
            break;
        case StationState::Waiting:
            break;
        }
    }
    return tally;
}

std::vector<StationCharger> Station::Chargers() const {
    const std::lock_guard lock(m_mutex);
    return m_chargers;
}

StationCharger* Station::ChargerOfRun(int run) {
    const auto found = m_runCharger.find(run);
    return found == m_runCharger.end() ? nullptr : &m_chargers[found->second];
}

void Station::OnStatus(int run, const std::string& text) {
    const std::lock_guard lock(m_mutex);
    if (StationCharger* charger = ChargerOfRun(run)) {
        charger->step = text;
        m_listener.OnChargerChanged(*charger);
    }
}

void Station::OnProgress(int run, int position, int maximum) {
    const std::lock_guard lock(m_mutex);
    if (StationCharger* charger = ChargerOfRun(run)) {
        charger->position = position;
        charger->maximum = maximum;
        m_listener.OnChargerChanged(*charger);
    }
}

void Station::OnMessage(int run, std::string_view text, std::string_view caption,
                        MessageIcon icon) {
    const std::lock_guard lock(m_mutex);
    if (StationCharger* charger = ChargerOfRun(run)) {
        m_listener.OnRunMessage(*charger, text, caption, icon);
    }
}

void Station::OnFinished(int run, const BatchResult& result) {
    const std::lock_guard lock(m_mutex);
    StationCharger* charger = ChargerOfRun(run);
    if (charger == nullptr) {
        return;
    }
    charger->lastResult = result;
    charger->message = result.message;
    charger->state = result.report.outcome == UpgradeOutcome::Completed ? StationState::Done
                                                                        : StationState::Failed;
    if (charger->state == StationState::Done) {
        charger->position = charger->maximum;
    }
    m_runCharger.erase(run);
    m_listener.OnRunFinished(*charger);
    m_listener.OnChargerChanged(*charger);
}

}  // namespace velmorin
