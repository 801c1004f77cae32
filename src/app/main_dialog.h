// SPDX-License-Identifier: MIT
// The main dialog: the connected chargers, the chosen update file and its
// information, the Update command and the buttons around it. It is the host
// of the upgrades: their status line, progress bar, Update button, message
// boxes and message pump are its own.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "device/device_watcher.h"
#include "protocol/upgrade_host.h"

namespace Ui {
class MainDialog;
}

namespace velmorin {

class CvelmorinDlg : public QDialog, public UpgradeHost {
    Q_OBJECT

public:
    explicit CvelmorinDlg(QWidget* parent = nullptr);
    ~CvelmorinDlg() override;

    // UpgradeHost
    std::string PathText() override;
    int SelectedIndex() override;
    void ShowStatus(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void ShowProgress(bool visible) override;
    void SetProgressRange(std::uint16_t maximum) override;
    void SetProgressPosition(int position) override;
    void EnableUpdateButton(bool enabled) override;
    void CopyDataToControls() override;
    void PumpMessages() override;
    void ResetFileInfo(std::string_view reason) override;
    void ShowFileInfo(const FileInfoText& info, bool updateEnabled) override;
    void ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) override;

    // The header check of the path field; true when the file was accepted.
    bool CheckUpdateFile();
    // Puts a downloaded file's path into the path field and checks the file,
    // also when the field already showed that path.
    void TakeDownloadedFile(const QString& path);
    // Rebuilds the device table and, while the list is live, the list box.
    void RefreshDeviceList();

    // Message boxes go here instead of on the screen (tests record them).
    using MessageBoxHandler =
        std::function<void(const QString& text, const QString& caption, MessageIcon icon)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) {
        m_messageBoxHandler = std::move(handler);
    }

    Ui::MainDialog& Controls() { return *m_ui; }
    // Called with the download dialog before it runs (tests drive it).
    void SetBeforeDownloadDialog(std::function<void(class CDownLoad&)> hook) {
        m_beforeDownloadDialog = std::move(hook);
    }

public slots:
    void OnUpdateCommand();
    void OnSetSerialNumber();
    void OnOpenFile();
    void OnPathChanged();
    void OnIncludeComPort();
    void OnDeviceChange();
    void OnDownload();
    // Closing (Exit, Escape, the close box) is refused while an upgrade runs.
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs `upgrade` with closing refused and the controls that would start
    // other work or end the window (Exit, Open..., Download..., the path,
    // "Include COMx Port", the new-release link) disabled; afterwards each
    // gets back the state it had.
    void RunHeld(const std::function<void()>& upgrade);

    std::unique_ptr<Ui::MainDialog> m_ui;
    QIcon m_icon;
    DeviceWatcher m_watcher;
    std::unique_ptr<QSocketNotifier> m_deviceNotifier;
    MessageBoxHandler m_messageBoxHandler;
    std::function<void(class CDownLoad&)> m_beforeDownloadDialog;
    bool m_upgrading = false;
};

}  // namespace velmorin
