// SPDX-License-Identifier: MIT
// The main dialog on Qt Widgets: a view of the main window's logic. It
// forwards clicks and edits to MainWindowLogic and shows what it is told;
// upgrades run on a worker thread whose calls arrive here as queued calls.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "session/main_window_logic.h"
#include "session/main_window_view.h"
#include "session/upgrade_runner.h"

namespace Ui {
class MainDialog;
}

namespace velmorin {

class DownloadDialog;

// Work from other threads, run by this thread's event loop in the order it
// was posted.
class QtViewThread : public ViewThread {
public:
    explicit QtViewThread(QObject* context) : m_context(context) {}
    void Post(std::function<void()> work) override;

private:
    QObject* m_context;
};

class MainDialog : public QDialog, private MainWindowView {
    Q_OBJECT

public:
    explicit MainDialog(QWidget* parent = nullptr, MainWindowServices services = {});
    // Waits, with the event loop turning, for an upgrade that still runs.
    ~MainDialog() override;

    MainWindowLogic& Logic() { return *m_logic; }
    // The program is asked to end: the run under way, if any, gets its
    // interrupted line in the history, with how far it got.
    ClosedRuns CloseRunsForExit() { return m_logic->CloseRuns(kInterruptedRunMessage); }

    // Message boxes go here instead of on the screen (tests record them).
    using MessageBoxHandler =
        std::function<void(const QString& text, const QString& caption, MessageIcon icon)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) {
        m_messageBoxHandler = std::move(handler);
    }

    Ui::MainDialog& Controls() { return *m_ui; }
    // The Save trace... button, beside Update (not in the form: it shows
    // only after a run that did not complete).
    QPushButton& SaveTraceButton() { return *m_saveTraceButton; }
    // Answers the Save trace... file dialog instead of the operator (tests).
    void SetTracePathChooser(std::function<QString()> chooser) {
        m_tracePathChooser = std::move(chooser);
    }
    // Called with the download dialog before it runs (tests drive it).
    void SetBeforeDownloadDialog(std::function<void(DownloadDialog&)> hook) {
        m_beforeDownloadDialog = std::move(hook);
    }

public slots:
    void OnOpenFile();
    // Closing (Exit, Escape, the close box) is refused while an upgrade runs.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // MainWindowView
    std::string PathText() override;
    void SetPathText(const std::string& path) override;
    void SetIncludeComChecked(bool checked) override;
    void SetDeviceLines(const std::vector<std::string>& lines) override;
    void SelectDeviceLine(int line) override;
    int SelectedDeviceLine() override;
    void EnableDeviceList(bool enabled) override;
    void EnableUpdateButton(bool enabled) override;
    void ShowStatus(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void ShowProgress(bool visible) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPosition(int position) override;
    void ShowFileInfo(const FileInfoText& info) override;
    void ClearFileInfo() override;
    void SetFileMessage(std::string_view text, bool visible) override;
    void ShowReleaseLink(const std::string& address) override;
    void HideReleaseLink() override;
    void ShowSerialNumberControls(bool visible) override;
    void HoldControls(bool held) override;
    void CopyDataToControls() override;
    void ShowSaveTraceButton(bool visible) override;
    std::string AskTracePath() override;
    void ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) override;
    void RunDownloadDialog(CatalogueContents contents) override;

    std::unique_ptr<Ui::MainDialog> m_ui;
    QPushButton* m_saveTraceButton = nullptr;  // owned by the dialog
    std::function<QString()> m_tracePathChooser;
    QIcon m_icon;
    QtViewThread m_viewThread{this};
    WorkerUpgradeRunner m_runner{m_viewThread};
    std::unique_ptr<MainWindowLogic> m_logic;
    std::unique_ptr<QSocketNotifier> m_deviceNotifier;
    MessageBoxHandler m_messageBoxHandler;
    std::function<void(DownloadDialog&)> m_beforeDownloadDialog;
    // The controls a run holds, with the state each had before it.
    std::vector<std::pair<QPointer<QWidget>, bool>> m_held;
};

}  // namespace velmorin
