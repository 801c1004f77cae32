// SPDX-License-Identifier: MIT
// The main window's rules.
#include "session/main_window_logic.h"

#include <ctime>
#include <utility>

#include "image/file_path.h"
#include "protocol/hid_upgrade.h"
#include "session/upgrade_dispatch.h"
#include "session/upgrade_record.h"

namespace velmorin {
namespace {

// The host a runner hands the procedure, with the run's wire trace added:
// the runner's own host (the worker's forwarder, or the logic itself) does
// not know it.
class TracingHost : public UpgradeHost {
public:
    TracingHost(UpgradeHost& host, WireTrace* trace) : m_host(host), m_trace(trace) {}

    WireTrace* Trace() override { return m_trace; }
    std::string PathText() override { return m_host.PathText(); }
    DeviceEntry SelectedEntry() override { return m_host.SelectedEntry(); }
    std::vector<DeviceEntry> ListedEntries() override { return m_host.ListedEntries(); }
    void ShowStatus(bool visible) override { m_host.ShowStatus(visible); }
    void SetStatusText(const std::string& text) override { m_host.SetStatusText(text); }
    void ShowProgress(bool visible) override { m_host.ShowProgress(visible); }
    void SetProgressRange(std::uint16_t maximum) override { m_host.SetProgressRange(maximum); }
    void SetProgressPosition(int position) override { m_host.SetProgressPosition(position); }
    void EnableUpdateButton(bool enabled) override { m_host.EnableUpdateButton(enabled); }
    void CopyDataToControls() override { m_host.CopyDataToControls(); }
    void PumpMessages() override { m_host.PumpMessages(); }
    void ResetFileInfo(std::string_view reason) override { m_host.ResetFileInfo(reason); }
    void ShowFileInfo(const FileInfoText& info) override { m_host.ShowFileInfo(info); }
    void ShowMessageBox(std::string_view text, std::string_view caption,
                        MessageIcon icon) override {
        m_host.ShowMessageBox(text, caption, icon);
    }

private:
    UpgradeHost& m_host;
    WireTrace* m_trace;
};

}  // namespace

MainWindowLogic::MainWindowLogic(MainWindowView& view, UpgradeRunner& runner,
                                 std::string applicationName, MainWindowServices services)
    : m_view(view),
      m_runner(runner),
      m_applicationName(std::move(applicationName)),
      m_services(std::move(services)),
      m_nonces(static_cast<std::uint32_t>(std::time(nullptr))),
      m_journal(m_services.ledgerPath) {
    if (m_services.watchDevices) {
        m_watcher = std::make_unique<DeviceWatcher>();
    }
}

MainWindowLogic::~MainWindowLogic() = default;

void MainWindowLogic::Start() {
    m_includeCom = false;
    m_view.SetIncludeComChecked(false);
    m_view.EnableUpdateButton(false);
    m_view.ShowProgress(false);
    m_view.ShowStatus(false);
    m_view.ShowSaveTraceButton(false);
    m_view.ClearFileInfo();
    m_view.SetFileMessage("The format of the file is error!", false);
    RefreshDeviceList();
    // The release check fetches the catalogue before the window is first
    // shown (3 s at most).
    const ReleaseCheck release = m_services.checkRelease();
    if (release.outcome == ReleaseCheckOutcome::Newer) {
        m_view.ShowReleaseLink(release.address);
    } else {
        m_view.HideReleaseLink();
    }
    m_view.ShowSerialNumberControls(false);
}

int MainWindowLogic::DeviceWatcherFd() const {
    return m_watcher ? m_watcher->Fd() : -1;
}

bool MainWindowLogic::CheckFile() {
    return CheckUpdateFile(PathFromText(m_view.PathText()), m_image, *this).Accepted();
}

void MainWindowLogic::OnPathEdited() {
    CheckFile();
}

void MainWindowLogic::OnIncludeComClicked(bool checked) {
    m_includeCom = checked;
    RefreshDeviceList();
}

void MainWindowLogic::OnDeviceChange() {
    if (m_watcher && m_watcher->ConsumeChanges()) {
        RefreshDeviceList();
    }
}

void MainWindowLogic::RefreshDeviceList() {
    const DeviceListRefresh refresh =
        RefreshDeviceTable(m_table, m_services.discover, m_includeCom, m_listLive, m_fileAccepted);
    if (!refresh.discoveryError.empty()) {
        m_view.ShowMessageBox(refresh.discoveryError, m_applicationName, MessageIcon::Exclamation);
    }
    if (refresh.rewriteList) {
        m_view.SetDeviceLines(refresh.lines);
    }
    if (refresh.updateButton == UpdateButtonChange::Enable) {
        m_view.EnableUpdateButton(true);
    } else if (refresh.updateButton == UpdateButtonChange::Disable) {
        m_view.EnableUpdateButton(false);
    }
    if (refresh.selectFirst) {
        m_view.SelectDeviceLine(0);
    }
}

void MainWindowLogic::RunUpgrade(UpgradeRunner::Procedure procedure, bool holdList) {
    if (m_upgrading) {
        return;  // one run at a time; the controls that start one are held
    }
    m_upgrading = true;
    m_view.HoldControls(true);
    if (holdList) {
        m_listLive = false;
        m_view.EnableDeviceList(false);
    }
    m_runLedgerError.clear();
    if (m_failedTrace) {
        m_failedTrace.reset();
        m_view.ShowSaveTraceButton(false);
    }
    m_runTrace = std::make_unique<WireTrace>();
    // The run pins the file as it begins and is on record before its final
    // message box.
    UpgradeRunner::Procedure traced = [this, procedure = std::move(procedure),
                                       trace = m_runTrace.get()](UpgradeHost& host) {
        TracingHost tracing(host, trace);
        RunRecord record = RunRecordedUpgrade(tracing, procedure, RunPlan{}, m_journal);
        m_runLedgerError = std::move(record.ledgerError);
        return record.report;
    };
    m_runner.Start(std::move(traced), *this, [this, holdList](const UpgradeReport& report) {
        m_lastReport = report;
        if (report.outcome != UpgradeOutcome::Completed) {
            m_failedTrace = std::move(m_runTrace);
        }
        m_runTrace.reset();
        if (!m_runLedgerError.empty()) {
            // The run's outcome stands; only its record is missing.
            m_view.ShowMessageBox(m_runLedgerError, m_applicationName, MessageIcon::Exclamation);
        }
        if (holdList) {
            m_listLive = true;
            m_view.EnableDeviceList(true);
        }
        m_view.HoldControls(false);
        m_upgrading = false;
        if (holdList) {
            RefreshDeviceList();
        }
        if (m_failedTrace) {
            m_view.ShowSaveTraceButton(true);
        }
    });
}

void MainWindowLogic::OnSaveTrace() {
    if (!m_failedTrace || m_upgrading) {
        return;
    }
    const std::string path = m_view.AskTracePath();
    if (path.empty()) {
        return;
    }
    const std::string error = m_failedTrace->WriteTo(PathFromText(path), TraceFormat::Text);
    if (!error.empty()) {
        m_view.ShowMessageBox("cannot write the trace to " + path + ": " + error, m_applicationName,
                              MessageIcon::Exclamation);
    }
}

void MainWindowLogic::OnUpdate() {
    RunUpgrade([this](UpgradeHost& host) { return RunUpgradeForSelection(host, m_nonces); }, true);
}

void MainWindowLogic::OnSetSerialNumber() {
    RunUpgrade([this](UpgradeHost& host) { return UpgradeOverHid(host, m_nonces); }, false);
}

void MainWindowLogic::OnDownload() {
    CatalogueFetchResult fetch = m_services.fetchCatalogue([this](const std::string& text) {
        m_view.ShowMessageBox(text, m_applicationName, MessageIcon::None);
    });
    if (!fetch.fetched) {
        return;
    }
    m_view.RunDownloadDialog(LoadCatalogue(fetch.catalogue));
}

void MainWindowLogic::TakeDownloadedFile(const std::string& path) {
    if (m_view.PathText() == path) {
        // The same text raises no change: the file on disk is new all the same.
        CheckFile();
    } else {
        m_view.SetPathText(path);
    }
}

std::string MainWindowLogic::PathText() {
    return m_view.PathText();
}

DeviceEntry MainWindowLogic::SelectedEntry() {
    return m_table.At(m_view.SelectedDeviceLine());
}

std::vector<DeviceEntry> MainWindowLogic::ListedEntries() {
    return m_table.Entries();
}

void MainWindowLogic::ShowStatus(bool visible) {
    m_view.ShowStatus(visible);
}

void MainWindowLogic::SetStatusText(const std::string& text) {
    m_view.SetStatusText(text);
}

void MainWindowLogic::ShowProgress(bool visible) {
    m_view.ShowProgress(visible);
}

void MainWindowLogic::SetProgressRange(std::uint16_t maximum) {
    m_view.SetProgressRange(maximum);
}

void MainWindowLogic::SetProgressPosition(int position) {
    m_view.SetProgressPosition(position);
}

void MainWindowLogic::EnableUpdateButton(bool enabled) {
    m_view.EnableUpdateButton(enabled);
}

void MainWindowLogic::CopyDataToControls() {
    m_view.CopyDataToControls();
}

void MainWindowLogic::PumpMessages() {
    // A device change that is pending is handled now, so that the entry the
    // upgrade reads next is the table's latest.
    OnDeviceChange();
}

void MainWindowLogic::ResetFileInfo(std::string_view reason) {
    m_fileAccepted = false;
    m_view.ClearFileInfo();
    m_view.SetFileMessage(reason, !reason.empty());
    m_view.EnableUpdateButton(false);
}

void MainWindowLogic::ShowFileInfo(const FileInfoText& info) {
    m_fileAccepted = true;
    m_view.ShowFileInfo(info);
    // Update is enabled only while a device is listed.
    m_view.EnableUpdateButton(m_table.Count() != 0);
}

void MainWindowLogic::ShowMessageBox(std::string_view text, std::string_view caption,
                                     MessageIcon icon) {
    m_view.ShowMessageBox(text, caption, icon);
}

}  // namespace velmorin
