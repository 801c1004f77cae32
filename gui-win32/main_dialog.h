// SPDX-License-Identifier: MIT
// The main dialog on Win32: a view of the main window's logic over dialog
// template ID_MAIN_DIALOG. It forwards clicks and edits to MainWindowLogic
// and shows what it is told; upgrades run on a worker thread whose calls
// arrive here as posted window messages. Device changes reach it as
// WM_DEVICECHANGE (and the device watcher's pending changes are looked at
// on a timer, for the changes that no broadcast announces). When Windows
// ends the session, a run under way is recorded as interrupted before the
// process ends.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gui-win32/hyperlink_control.h"
#include "gui-win32/window_view_thread.h"
#include "session/main_window_logic.h"
#include "session/main_window_view.h"
#include "session/upgrade_runner.h"

namespace velmorin::win32 {

class MainDialog : private MainWindowView {
public:
    // Makes the window (hidden) and runs its initialisation: the initial
    // states, the device list and the release check.
    explicit MainDialog(MainWindowServices services = {});
    // Waits, with the thread's messages handled, for an upgrade that still
    // runs, then destroys the window.
    ~MainDialog() override;
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    HWND Handle() const { return m_window; }
    MainWindowLogic& Logic() { return *m_logic; }
    // False once the window has been closed (Exit, Escape, the close box).
    bool IsOpen() const { return m_window != nullptr; }

    // Shows the window and handles the thread's messages until it is closed.
    void RunModal();
    // Handles a message of the thread's loop: the dialog's keyboard
    // navigation. True when it was the dialog's.
    bool PreTranslate(MSG& message);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
    void OnCommand(int id, int code);
    void OnOpenFile();
    // Closing is refused while an upgrade runs.
    void Close();
    // Windows ends the session: the run under way, if any, is recorded as
    // interrupted with how far it got, and the process ends at once, without
    // waiting for the run's thread.
    [[noreturn]] void EndSession();
    HWND Control(int id) const { return ::GetDlgItem(m_window, id); }

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

    MainWindowServices m_services;
    std::string m_applicationName;
    HWND m_window = nullptr;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    HICON m_picture = nullptr;
    HyperlinkControl m_newReleaseLink;
    std::vector<HDEVNOTIFY> m_deviceNotifications;
    WindowViewThread m_viewThread;
    WorkerUpgradeRunner m_runner{m_viewThread};
    std::unique_ptr<MainWindowLogic> m_logic;
    // The controls a run holds, with the state each had before it.
    std::vector<std::pair<int, bool>> m_held;
};

}  // namespace velmorin::win32
