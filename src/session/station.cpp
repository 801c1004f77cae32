// SPDX-License-Identifier: MIT
// The station's rules over the shared device table and a batch of runs.
#include "session/station.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>

#include "image/file_path.h"
#include "protocol/hid_upgrade.h"
#include "session/upgrade_dispatch.h"

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
    case StationState::BusyElsewhere:
        return "busy elsewhere";
    }
    return "waiting";
}

namespace {

// How long a charger without a serial number that completed is taken to be
// restarting into its new firmware: a device that comes back at its place
// within this time is that charger, not the next one.
constexpr auto kRestartAfterCompletion = std::chrono::seconds(30);
// How long a serial charger whose port another program held waits before it
// is tried again (a port cannot be asked who holds it without opening it).
constexpr auto kBusyPortRetry = std::chrono::seconds(5);

// The same place on the line: where it is plugged in, else its device name.
bool SamePlace(const DeviceEntry& a, const DeviceEntry& b) {
    if (!a.physicalPath.empty() || !b.physicalPath.empty()) {
        return a.physicalPath == b.physicalPath;
    }
    return a.deviceName == b.deviceName;
}

// One charger found again: model and serial number alike (both have one),
// or, without a serial number, the same place.
bool SameChargerAgain(const DeviceEntry& known, const DeviceEntry& listed) {
    if (known.modelText != listed.modelText || known.serialText != listed.serialText) {
        return false;
    }
    return !known.serialText.empty() || SamePlace(known, listed);
}

// A charger another run holds is waited for, not tried: no record is left
// of finding it busy.
BatchSettings BatchForStation(BatchSettings settings) {
    settings.quietWhenBusy = true;
    return settings;
}

}  // namespace

Station::Station(StationSettings settings, LiveDeviceTable& devices, StationListener& listener,
                 RunJournal& journal)
    : m_settings(std::move(settings)),
      m_devices(devices),
      m_listener(listener),
      m_batch(BatchForStation(m_settings.batch), devices, *this, journal) {
    m_completions = std::make_unique<LedgerCompletions>(journal.LedgerPath(),
                                                        m_batch.File().Description().sha256);
}

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
    NoticeFileChange();
    std::vector<bool> taken(entries.size(), false);
    std::vector<bool> seen(m_chargers.size(), false);
    // The station upgrades chargers; plain serial ports are not its own.
    for (std::size_t e = 0; e < entries.size(); ++e) {
        taken[e] = entries[e].IsPlainPort();
    }
    // A charger still listed as it was.
    for (std::size_t c = 0; c < m_chargers.size(); ++c) {
        if (!m_chargers[c].present) {
            continue;
        }
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (!taken[e] && entries[e].SameDevice(m_chargers[c].device)) {
                taken[e] = true;
                seen[c] = true;
                break;
            }
        }
    }
    // A charger listed under another name: a HID charger that restarted
    // into its bootloader, or whose neighbour's restart moved the HIDn
    // names. With a serial number it is found by it; without one, by where
    // it is plugged in (a run under way follows it by the device name too).
    for (std::size_t c = 0; c < m_chargers.size(); ++c) {
        StationCharger& charger = m_chargers[c];
        if (seen[c] || !charger.present ||
            (charger.device.serialText.empty() && charger.device.physicalPath.empty() &&
             charger.state != StationState::Upgrading)) {
            continue;
        }
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (!taken[e] && SameChargerAgain(charger.device, entries[e])) {
                taken[e] = true;
                seen[c] = true;
                const bool renamed = charger.device.deviceName != entries[e].deviceName;
                charger.device = entries[e];
                if (renamed && charger.state != StationState::Upgrading) {
                    charger.slot = m_settings.slotNames.NameFor(charger.device);
                    charger.label =
                        !charger.slot.empty() ? charger.slot : charger.device.deviceName;
                    m_listener.OnChargerChanged(charger, StationChange::Arrived);
                }
                break;
            }
        }
    }
    // Away: a restart during or after a run, or unplugged. A failed charger
    // keeps its state while away and is tried again when it comes back.
    for (std::size_t c = 0; c < m_chargers.size(); ++c) {
        StationCharger& charger = m_chargers[c];
        if (seen[c] || !charger.present) {
            continue;
        }
        charger.present = false;
        m_listener.OnChargerChanged(charger, StationChange::Left);
    }
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (!taken[e]) {
            StationCharger& charger = Arrive(entries[e]);
            m_listener.OnChargerChanged(charger, StationChange::Arrived);
        }
    }
    for (StationCharger& charger : m_chargers) {
        StartIfDue(charger);
    }
}

StationCharger& Station::Arrive(const DeviceEntry& entry) {
    const auto now = std::chrono::steady_clock::now();
    const auto place = [this](StationCharger& charger, const DeviceEntry& device) {
        charger.device = device;
        charger.slot = m_settings.slotNames.NameFor(device);
        charger.label = !charger.slot.empty() ? charger.slot : device.deviceName;
        charger.present = true;
    };
    for (StationCharger& charger : m_chargers) {
        if (charger.present || !SameChargerAgain(charger.device, entry)) {
            continue;
        }
        // With a serial number it is this charger back. Without one, only a
        // charger under a run, or the restart right after its completed
        // run, is taken to be the one that left; anything else is the next
        // charger put in the same place.
        const bool back = !entry.serialText.empty() || charger.state == StationState::Upgrading ||
                          (charger.completed && charger.state == StationState::Done &&
                           now < charger.restartExpectedUntil);
        if (back) {
            charger.restartExpectedUntil = {};
            place(charger, entry);
            if (charger.state == StationState::Failed ||
                charger.state == StationState::BusyElsewhere) {
                charger.state = StationState::Waiting;  // plugged back: tried again
            }
            return charger;
        }
    }
    StationCharger charger;
    charger.id = static_cast<int>(m_chargers.size()) + 1;
    place(charger, entry);
    if (!ModelWanted(entry)) {
        charger.state = StationState::Skipped;
        charger.message = "not a " + m_settings.model;
    }
    m_chargers.push_back(std::move(charger));
    return m_chargers.back();
}

// Another charger listed now carries the same model and serial number: the
// history cannot tell which of them completed.
bool Station::KeyPresentElsewhere(const StationCharger& charger) const {
    for (const StationCharger& other : m_chargers) {
        if (other.id != charger.id && other.present &&
            other.device.modelText == charger.device.modelText &&
            other.device.serialText == charger.device.serialText) {
            return true;
        }
    }
    return false;
}

void Station::StartIfDue(StationCharger& charger) {
    if (!m_starting || !charger.present ||
        (charger.state != StationState::Waiting && charger.state != StationState::BusyElsewhere)) {
        return;
    }
    if (!m_settings.again && !charger.completed && !KeyPresentElsewhere(charger)) {
        if (const auto before = m_completions->Find(charger.device)) {
            charger.state = StationState::Done;
            charger.doneBefore = true;
            charger.message = "done before (" + before->time + ", " + before->station + ")";
            m_listener.OnChargerChanged(charger, StationChange::State);
            return;
        }
    }
    const bool wasBusy = charger.state == StationState::BusyElsewhere;
    std::string holder;
    const bool held = IsHidDeviceName(charger.device.deviceName)
                          ? HidChargerHeldElsewhere(charger.device, holder)
                          : wasBusy && std::chrono::steady_clock::now() < charger.busyUntil;
    if (held) {
        if (!wasBusy) {
            charger.state = StationState::BusyElsewhere;
            charger.message = "busy elsewhere: " + holder + " is upgrading it";
            m_listener.OnChargerChanged(charger, StationChange::State);
        }
        return;
    }
    charger.state = StationState::Upgrading;
    charger.step.clear();
    charger.position = 0;
    charger.maximum = 0;
    charger.message.clear();
    ++charger.runs;
    const int run = m_batch.Start(charger.device, charger.slot);
    m_runCharger[run] = charger.id;
    m_listener.OnChargerChanged(charger, StationChange::Started);
}

void Station::NoticeFileChange() {
    if (m_fileChangeTold || !m_batch.File().ChangedOnDisk()) {
        return;
    }
    m_fileChangeTold = true;
    m_listener.OnNotice("the file changed on disk; still writing " +
                        m_batch.File().Description().version +
                        " as shown; Stop and Start to take the new one");
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
        tally.done += charger.completed ? 1 : 0;
        tally.failed += charger.failedRuns > 0 && !charger.completed ? 1 : 0;
        tally.failedRuns += charger.failedRuns;
        tally.inProgress += charger.state == StationState::Upgrading ? 1 : 0;
        tally.skipped +=
            charger.state == StationState::Skipped || (charger.doneBefore && !charger.completed)
                ? 1
                : 0;
        tally.busy += charger.state == StationState::BusyElsewhere ? 1 : 0;
    }
    return tally;
}

std::vector<StationCharger> Station::Chargers() const {
    const std::lock_guard lock(m_mutex);
    return m_chargers;
}

StationCharger* Station::ChargerOfRun(int run) {
    const auto found = m_runCharger.find(run);
    if (found == m_runCharger.end()) {
        return nullptr;
    }
    return &m_chargers[static_cast<std::size_t>(found->second - 1)];
}

void Station::OnStatus(int run, const std::string& text) {
    const std::lock_guard lock(m_mutex);
    if (StationCharger* charger = ChargerOfRun(run)) {
        charger->step = text;
        m_listener.OnChargerChanged(*charger, StationChange::Step);
    }
}

void Station::OnProgress(int run, int position, int maximum) {
    const std::lock_guard lock(m_mutex);
    if (StationCharger* charger = ChargerOfRun(run)) {
        charger->position = position;
        charger->maximum = maximum;
        m_listener.OnChargerChanged(*charger, StationChange::Progress);
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
    m_runCharger.erase(run);
    charger->lastResult = result;
    charger->message = result.message;
    const UpgradeReport& report = result.report;
    bool countReached = false;
    if (report.outcome == UpgradeOutcome::Completed) {
        charger->state = StationState::Done;
        charger->completed = true;
        charger->position = charger->maximum;
        if (charger->device.serialText.empty() && IsHidDeviceName(charger->device.deviceName)) {
            charger->restartExpectedUntil =
                std::chrono::steady_clock::now() + kRestartAfterCompletion;
        }
        countReached = ++m_completedRuns == m_settings.stopAfter;
    } else if (report.outcome == UpgradeOutcome::OpenFailed && report.openErrno == EBUSY) {
        // Another run holds it: not this charger's failure.
        charger->state = StationState::BusyElsewhere;
        charger->message =
            "busy elsewhere: " + (report.openError.empty() ? result.message : report.openError);
        charger->busyUntil = std::chrono::steady_clock::now() + kBusyPortRetry;
    } else {
        charger->state = StationState::Failed;
        ++charger->failedRuns;
    }
    m_listener.OnChargerChanged(*charger, StationChange::Finished);
    if (countReached) {
        m_starting = false;
        m_listener.OnNotice("Count reached: " + std::to_string(m_completedRuns) +
                            (m_completedRuns == 1 ? " charger" : " chargers") +
                            " upgraded; no charger is started any more.");
    }
}

}  // namespace velmorin
