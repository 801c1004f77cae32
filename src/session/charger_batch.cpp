// SPDX-License-Identifier: MIT
// Runs at once over a shared device table.
#include "session/charger_batch.h"

#include <chrono>
#include <utility>

#include "protocol/protocol_clock.h"
#include "session/upgrade_dispatch.h"

namespace velmorin {

LiveDeviceTable::LiveDeviceTable(bool includeComPorts, DiscoverPorts discover, bool watch)
    : m_includeComPorts(includeComPorts), m_discover(std::move(discover)) {
    if (watch) {
        m_watcher = std::make_unique<DeviceWatcher>();
    }
    Rebuild();
}

LiveDeviceTable::~LiveDeviceTable() = default;

bool LiveDeviceTable::Refresh() {
    const std::lock_guard lock(m_mutex);
    if (m_watcher == nullptr || !m_watcher->ConsumeChanges()) {
        return false;
    }
    const DeviceTableRebuild rebuild = m_table.Rebuild(m_includeComPorts, false, m_discover);
    m_discoveryError = rebuild.discoveryError;
    for (const std::string& name : m_namedPorts) {
        m_table.AddNamedPort(name);
    }
    ++m_generation;
    return true;
}

void LiveDeviceTable::Rebuild() {
    const std::lock_guard lock(m_mutex);
    if (m_watcher != nullptr) {
        m_watcher->ConsumeChanges();
    }
    const DeviceTableRebuild rebuild = m_table.Rebuild(m_includeComPorts, false, m_discover);
    m_discoveryError = rebuild.discoveryError;
    for (const std::string& name : m_namedPorts) {
        m_table.AddNamedPort(name);
    }
    ++m_generation;
}

std::vector<DeviceEntry> LiveDeviceTable::Entries() const {
    const std::lock_guard lock(m_mutex);
    return m_table.Entries();
}

std::uint64_t LiveDeviceTable::Generation() const {
    const std::lock_guard lock(m_mutex);
    return m_generation;
}

std::string LiveDeviceTable::DiscoveryError() const {
    const std::lock_guard lock(m_mutex);
    return m_discoveryError;
}

bool LiveDeviceTable::AddNamedPort(std::string_view deviceName) {
    const std::lock_guard lock(m_mutex);
    if (m_table.AddNamedPort(deviceName) < 0) {
        return false;
    }
    m_namedPorts.emplace_back(deviceName);
    return true;
}

namespace {

// The host of one run: the charger it is for stands in for the selection,
// the shared table for the device list, and what the window would show goes
// to the observer under the run's number.
class ChargerHost : public UpgradeHost {
public:
    ChargerHost(std::string path, DeviceEntry device, LiveDeviceTable& devices,
                BatchObserver& observer, int run)
        : m_path(std::move(path)),
          m_device(std::move(device)),
          m_devices(devices),
          m_observer(observer),
          m_run(run) {}

    std::string PathText() override { return m_path; }
    // The charger as the table lists it now: each open of the run reaches
    // it under the name it has at that moment.
    DeviceEntry SelectedEntry() override {
        Follow();
        return m_device;
    }
    std::vector<DeviceEntry> ListedEntries() override { return m_devices.Entries(); }
    WireTrace* Trace() override { return m_observer.TraceFor(m_run); }
    void ShowStatus(bool /*visible*/) override {}
    void SetStatusText(const std::string& text) override { m_observer.OnStatus(m_run, text); }
    void ShowProgress(bool /*visible*/) override {}
    void SetProgressRange(std::uint16_t maximum) override { m_maximum = maximum; }
    void SetProgressPosition(int position) override {
        m_observer.OnProgress(m_run, position, m_maximum);
    }
    void EnableUpdateButton(bool /*enabled*/) override {}
    void CopyDataToControls() override {}
    // Called after every frame or block: the table is looked at a few times
    // a second, not at each of tens of thousands of calls.
    void PumpMessages() override {
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastFollowed < kFollowEvery) {
            return;
        }
        m_lastFollowed = now;
        Follow();
    }
    void ResetFileInfo(std::string_view /*reason*/) override {}
    void ShowFileInfo(const FileInfoText& /*info*/) override {}
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        m_observer.OnMessage(m_run, text, caption, icon);
    }

private:
    // Follows the charger through device changes (whichever run's call
    // rebuilt the table): while it is listed under its own name it keeps
    // it; when it is listed under another (a HID charger that restarted
    // while a neighbour was away, or whose neighbour went away), it takes
    // that name. While it is away, the last name stays.
    void Follow() {
        m_devices.Refresh();
        const std::uint64_t generation = m_devices.Generation();
        if (generation == m_seenGeneration) {
            return;
        }
        m_seenGeneration = generation;
        const std::vector<DeviceEntry> entries = m_devices.Entries();
        for (const DeviceEntry& entry : entries) {
            if (entry.SameDevice(m_device)) {
                return;
            }
        }
        for (const DeviceEntry& entry : entries) {
            if (entry.SameCharger(m_device)) {
                m_device = entry;
                return;
            }
        }
    }

    std::string m_path;
    DeviceEntry m_device;
    std::uint64_t m_seenGeneration = 0;
    static constexpr auto kFollowEvery = std::chrono::milliseconds(50);
    std::chrono::steady_clock::time_point m_lastFollowed{};
    LiveDeviceTable& m_devices;
    BatchObserver& m_observer;
    int m_run;
    int m_maximum = 0;
};

}  // namespace

struct ChargerBatch::Run {
    int number = 0;
    DeviceEntry device;
    std::string slot;
    std::thread thread;
    std::atomic<bool> finished{false};
};

ChargerBatch::ChargerBatch(BatchSettings settings, LiveDeviceTable& devices,
                           BatchObserver& observer, RunJournal& journal)
    : m_settings(std::move(settings)),
      m_devices(devices),
      m_observer(observer),
      m_journal(journal),
      m_file(m_settings.file != nullptr ? m_settings.file
                                        : std::make_shared<const PinnedFile>(m_settings.filePath)) {
}

ChargerBatch::~ChargerBatch() {
    WaitAll();
}

int ChargerBatch::Start(const DeviceEntry& device, std::string slot) {
    JoinFinished();
    const std::lock_guard lock(m_mutex);
    auto run = std::make_unique<Run>();
    run->number = m_started++;
    run->device = device;
    run->slot = std::move(slot);
    Run& started = *run;
    m_runs.push_back(std::move(run));
    ++m_running;
    started.thread = std::thread([this, &started] { Execute(started); });
    return started.number;
}

int ChargerBatch::Running() const {
    return m_running.load();
}

void ChargerBatch::WaitAll() {
    std::list<std::unique_ptr<Run>> runs;
    {
        const std::lock_guard lock(m_mutex);
        runs.swap(m_runs);
    }
    for (const auto& run : runs) {
        if (run->thread.joinable()) {
            run->thread.join();
        }
    }
}

// Threads of ended runs are joined as new ones start, so that a station
// that runs all day keeps no more threads than chargers at work.
void ChargerBatch::JoinFinished() {
    const std::lock_guard lock(m_mutex);
    for (auto it = m_runs.begin(); it != m_runs.end();) {
        if ((*it)->finished.load()) {
            (*it)->thread.join();
            it = m_runs.erase(it);
        } else {
            ++it;
        }
    }
}

void ChargerBatch::Execute(Run& run) {
    ChargerHost host(m_settings.filePath, run.device, m_devices, m_observer, run.number);
    // Each run draws its own challenge nonces.
    NonceSource nonces(static_cast<std::uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() + run.number * 7919));
    RunPlan plan;
    plan.device = run.device;
    plan.slot = run.slot;
    plan.operatorName = m_settings.operatorName;
    plan.file = m_file;
    plan.quietWhenBusy = m_settings.quietWhenBusy;
    const RunRecord record = RunRecordedUpgrade(
        host, [&nonces](UpgradeHost& runHost) { return RunUpgradeForSelection(runHost, nonces); },
        std::move(plan), m_journal);
    BatchResult result;
    result.device = run.device;
    result.slot = run.slot;
    result.runId = record.runId;
    result.report = record.report;
    result.message = record.message;
    result.ledgerError = record.ledgerError;
    m_observer.OnFinished(run.number, result);
    --m_running;
    run.finished = true;
}

}  // namespace velmorin
