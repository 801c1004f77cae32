// SPDX-License-Identifier: MIT
// The download dialog on Win32.
#include "gui-win32/download_dialog.h"

#include <commctrl.h>

#include <iterator>
#include <utility>

#include "gui-win32/application.h"
#include "gui-win32/dialog_controls.h"
#include "gui-win32/file_chooser.h"
#include "gui-win32/pictures.h"
#include "gui-win32/resource_ids.h"
#include "gui-win32/wide_text.h"

namespace velmorin::win32 {
namespace {

// Columns of the update list: heading and initial width in pixels.
constexpr std::pair<const wchar_t*, int> kColumns[] = {{L"Type", 70}, {L"File name", 135},
                                                       {L"Ver", 50},  {L"Updated", 70},
                                                       {L"URL", 300}, {L"Note", 100}};

}  // namespace

DownloadDialog::DownloadDialog(HWND owner, CatalogueContents contents,
                               DownloadFlow::DeliverPath deliverPath)
    : m_owner(owner),
      m_applicationName(Widen(ApplicationName())),
      m_flow(static_cast<DownloadView&>(*this), std::move(contents), std::move(deliverPath)) {}

DownloadDialog::~DownloadDialog() {
    for (HICON icon : {m_icon, m_smallIcon, m_picture}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

void DownloadDialog::Run() {
    ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ID_DOWNLOAD_DIALOG), m_owner,
                      DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DownloadDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DownloadDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->OnInitDialog(window);
        return TRUE;
    }
    auto* self = reinterpret_cast<DownloadDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void DownloadDialog::OnInitDialog(HWND window) {
    m_window = window;
    CentreOver(window, m_owner);
    m_icon = LoadProgramIcon(IconSize::Large);
    m_smallIcon = LoadProgramIcon(IconSize::Small);
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    m_picture = ShowPicture(Control(ID_DOWNLOAD_PICTURE_CONTROL), ID_DOWNLOAD_PICTURE, false);
    m_releaseNotesLink.SetUp(Control(ID_RELEASE_NOTES_LINK), m_applicationName);

    const HWND list = Control(ID_UPDATE_LIST);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    int column = 0;
    for (const auto& [heading, width] : kColumns) {
        LVCOLUMNW description{};
        description.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        description.fmt = LVCFMT_LEFT;
        description.cx = width;
        description.pszText = const_cast<wchar_t*>(heading);
        description.iSubItem = column;
        ListView_InsertColumn(list, column, &description);
        ++column;
    }
    m_updateList.Attach(list);
    m_updateList.FitLastColumn();
    m_flow.Start();
}

INT_PTR DownloadDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDOK && ::IsWindowEnabled(Control(IDOK))) {
            m_flow.OnDownload();
        } else if (id == IDCANCEL) {
            ::EndDialog(m_window, IDCANCEL);
        } else if (id == ID_BROWSE_BUTTON && HIWORD(wParam) == BN_CLICKED) {
            m_flow.OnBrowse();
        }
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto& notice = *reinterpret_cast<const NMHDR*>(lParam);
        if (notice.idFrom == ID_UPDATE_LIST && notice.code == LVN_ITEMCHANGED) {
            const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lParam);
            // A row that gains or loses the selection, by the operator or
            // by SelectRow.
            if ((change.uChanged & LVIF_STATE) != 0 &&
                ((change.uOldState ^ change.uNewState) & LVIS_SELECTED) != 0) {
                m_flow.OnItemChanged();
            }
            ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == m_releaseNotesLink.Handle()) {
            return reinterpret_cast<INT_PTR>(
                m_releaseNotesLink.OnControlColor(reinterpret_cast<HDC>(wParam)));
        }
        break;
    case WM_NCDESTROY:
        m_window = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}

void DownloadDialog::SetRows(const std::vector<std::vector<std::string>>& rows) {
    const HWND list = Control(ID_UPDATE_LIST);
    ListView_DeleteAllItems(list);
    int index = 0;
    for (const auto& texts : rows) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        std::wstring first = texts.empty() ? std::wstring() : Widen(texts.front());
        item.pszText = first.data();
        const int row = ListView_InsertItem(list, &item);
        for (std::size_t column = 1; column < texts.size(); ++column) {
            std::wstring text = Widen(texts[column]);
            ListView_SetItemText(list, row, static_cast<int>(column), text.data());
        }
        ++index;
    }
}

void DownloadDialog::SelectRow(int row) {
    const HWND list = Control(ID_UPDATE_LIST);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, row, FALSE);
}

int DownloadDialog::SelectedRow() {
    return ListView_GetNextItem(Control(ID_UPDATE_LIST), -1, LVNI_SELECTED);
}

std::string DownloadDialog::SaveAsText() {
    return Narrow(WindowText(Control(ID_SAVE_AS_EDIT)));
}

void DownloadDialog::SetSaveAsText(const std::string& text) {
    SetControlText(m_window, ID_SAVE_AS_EDIT, text);
}

void DownloadDialog::ShowReleaseLink(const std::optional<std::string>& caption,
                                     const std::string& address) {
    if (caption) {
        ShowControl(m_window, ID_RELEASE_NOTES_LINK, false);
        SetControlText(m_window, ID_RELEASE_NOTES_LINK, *caption);
    }
    m_releaseNotesLink.SetUrl(Widen(address));
    m_releaseNotesLink.DisableUnderline();
    ShowControl(m_window, ID_RELEASE_NOTES_LINK, true);
}

void DownloadDialog::EnableDownloadButton(bool enabled) {
    EnableControl(m_window, IDOK, enabled);
}

void DownloadDialog::ShowStatus(bool visible) {
    ShowControl(m_window, ID_DOWNLOAD_STATUS, visible);
}

void DownloadDialog::SetStatusText(const std::string& text) {
    SetControlText(m_window, ID_DOWNLOAD_STATUS, text);
}

void DownloadDialog::Refresh() {
    ::RedrawWindow(m_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

std::optional<std::string> DownloadDialog::ChooseSaveFile(const std::string& proposedName) {
    // The chooser opens where it would anyway; the proposal is a plain name
    // in it, never a directory of the catalogue's choosing.
    const auto file =
        ChooseFile(m_window, FileChoice::Save, kUpdateFileFilter, L"bin", Widen(proposedName));
    if (!file) {
        return std::nullopt;
    }
    return Narrow(*file);
}

void DownloadDialog::ShowMessageBox(std::string_view text) {
    // The download flow's boxes carry no icon.
    ::MessageBoxW(m_window, Widen(text).c_str(), m_applicationName.c_str(), MB_OK);
}

void DownloadDialog::Accept() {
    ::EndDialog(m_window, IDOK);
}

}  // namespace velmorin::win32
