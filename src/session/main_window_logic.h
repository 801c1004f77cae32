// SPDX-License-Identifier: MIT
// The main window's rules, apart from any toolkit: its initial states, the
// header check on every edit of the path, whether the chosen file is accepted
// and what that enables, the device list's rebuild (not while an upgrade
// runs, "Device not found!" when nothing is listed), the Update command and
// its dispatch, the new-release link and the Download... button. A view
// forwards the operator's clicks and edits here and shows what it is told.
// The logic is the upgrades' host; a runner decides where they run.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/device_watcher.h"
#include "device/port_discovery.h"
#include "device/wire_trace.h"
#include "image/update_image.h"
#include "online/catalogue.h"
#include "protocol/protocol_clock.h"
#include "protocol/upgrade_host.h"
#include "session/device_list.h"
#include "session/device_table.h"
#include "session/ledger.h"
#include "session/main_window_view.h"
#include "session/recorded_run.h"
#include "session/run_journal.h"
#include "session/upgrade_record.h"
#include "session/upgrade_runner.h"

namespace velmorin {

// The outside world the logic reaches: the system's own by default, a test's
// stand-ins otherwise.
struct MainWindowServices {
    DiscoverPorts discover = EnumeratePorts;
    std::function<ReleaseCheck()> checkRelease = [] { return CheckRelease(); };
    std::function<CatalogueFetchResult(const std::function<void(const std::string&)>& report)>
        fetchCatalogue = [](const auto& report) { return FetchCatalogue(report); };
    // Follows device changes (tests of the rules turn it off).
    bool watchDevices = true;
    // Where every upgrade adds its lines; empty keeps no history.
    std::filesystem::path ledgerPath = DefaultLedgerPath();
};

class MainWindowLogic : private UpgradeHost {
public:
    // `applicationName` captions the boxes that the window itself raises.
    MainWindowLogic(MainWindowView& view, UpgradeRunner& runner, std::string applicationName,
                    MainWindowServices services = {});
    ~MainWindowLogic() override;
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Sets the initial states, lists the devices and runs the release check
    // (before the window is first shown).
    void Start();

    // What the operator does.
    void OnPathEdited();
    void OnIncludeComClicked(bool checked);
    void OnUpdate();
    void OnSetSerialNumber();
    void OnDownload();
    // Save trace...: asks the view for a file and writes the last run's wire
    // trace there (as text); a trace that cannot be written is shown in a box.
    void OnSaveTrace();
    // The device watcher's descriptor turned readable (the view watches Fd()).
    void OnDeviceChange();
    // A downloaded file: into the path field, and checked even when the field
    // already showed that path (the file on disk is new all the same).
    void TakeDownloadedFile(const std::string& path);

    // The device watcher's descriptor, -1 without one.
    int DeviceWatcherFd() const;
    // True while an upgrade runs: the window refuses to close.
    bool Upgrading() const { return m_upgrading; }
    // The report of the last upgrade that ended.
    const UpgradeReport& LastReport() const { return m_lastReport; }
    // The wire trace of the last run, when it did not complete; nullptr
    // otherwise (and while a run goes on).
    const WireTrace* LastFailedTrace() const { return m_failedTrace.get(); }
    bool FileAccepted() const { return m_fileAccepted; }
    const DeviceTable& Devices() const { return m_table; }
    // The program is asked to end: the run under way, if any, is recorded
    // as interrupted, with how far it got. Safe from any thread.
    ClosedRuns CloseRuns(std::string_view message) { return m_journal.CloseAll(message); }

    // The header check of the path field; true when the file was accepted.
    bool CheckFile();
    // Rebuilds the device table and, while the list is live, the list box.
    void RefreshDeviceList();

private:
    void RunUpgrade(UpgradeRunner::Procedure procedure, bool holdList);

    // UpgradeHost, on the view's thread.
    std::string PathText() override;
    DeviceEntry SelectedEntry() override;
    std::vector<DeviceEntry> ListedEntries() override;
    void ShowStatus(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void ShowProgress(bool visible) override;
    void SetProgressRange(std::uint16_t maximum) override;
    void SetProgressPosition(int position) override;
    void EnableUpdateButton(bool enabled) override;
    void CopyDataToControls() override;
    void PumpMessages() override;
    void ResetFileInfo(std::string_view reason) override;
    void ShowFileInfo(const FileInfoText& info) override;
    void ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) override;

    MainWindowView& m_view;
    UpgradeRunner& m_runner;
    std::string m_applicationName;
    MainWindowServices m_services;
    std::unique_ptr<DeviceWatcher> m_watcher;
    DeviceTable m_table;
    UpdateImage m_image;  // the header check's
    NonceSource m_nonces;
    bool m_includeCom = false;
    bool m_listLive = true;  // false while an upgrade runs: a refresh rebuilds only the table
    bool m_fileAccepted = false;
    bool m_upgrading = false;
    UpgradeReport m_lastReport;
    RunJournal m_journal;
    // Why the history could not take the last run's lines (empty: it did);
    // written by the run's thread before its end is posted.
    std::string m_runLedgerError;
    // Every run records its wire trace in memory; the trace of one that did
    // not complete is kept for Save trace....
    std::unique_ptr<WireTrace> m_runTrace;
    std::unique_ptr<WireTrace> m_failedTrace;
};

}  // namespace velmorin
