// SPDX-License-Identifier: MIT
// The download dialog on Win32: a view of the download flow over dialog
// template ID_DOWNLOAD_DIALOG. The catalogue's update files in a list, where
// to save the chosen one, and its download, whose path then goes to the main
// window.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "gui-win32/auto_sizing_list.h"
#include "gui-win32/hyperlink_control.h"
#include "session/download_flow.h"

namespace velmorin::win32 {

class DownloadDialog : private DownloadView {
public:
    // `deliverPath` receives the saved file's path after a successful
    // download (or the refused bytes' path after a refused one).
    DownloadDialog(HWND owner, CatalogueContents contents, DownloadFlow::DeliverPath deliverPath);
    ~DownloadDialog() override;
    DownloadDialog(const DownloadDialog&) = delete;
    DownloadDialog& operator=(const DownloadDialog&) = delete;

    // Runs the dialog modally; returns when it is closed.
    void Run();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND window);
    HWND Control(int id) const { return ::GetDlgItem(m_window, id); }

    // DownloadView
    void SetRows(const std::vector<std::vector<std::string>>& rows) override;
    void SelectRow(int row) override;
    int SelectedRow() override;
    std::string SaveAsText() override;
    void SetSaveAsText(const std::string& text) override;
    void ShowReleaseLink(const std::optional<std::string>& caption,
                         const std::string& address) override;
    void EnableDownloadButton(bool enabled) override;
    void ShowStatus(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void Refresh() override;
    std::optional<std::string> ChooseSaveFile(const std::string& proposedName) override;
    void ShowMessageBox(std::string_view text) override;
    void Accept() override;

    HWND m_owner;
    HWND m_window = nullptr;
    std::wstring m_applicationName;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    HICON m_picture = nullptr;
    AutoSizingList m_updateList;
    HyperlinkControl m_releaseNotesLink;
    DownloadFlow m_flow;
};

}  // namespace velmorin::win32
