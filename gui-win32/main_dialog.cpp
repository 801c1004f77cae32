// SPDX-License-Identifier: MIT
// The main dialog on Win32.
#include "gui-win32/main_dialog.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "device/windows/device_notifications.h"
#include "gui-win32/application.h"
#include "gui-win32/dialog_controls.h"
#include "gui-win32/download_dialog.h"
#include "gui-win32/file_chooser.h"
#include "gui-win32/pictures.h"
#include "gui-win32/resource_ids.h"
#include "gui-win32/wide_text.h"

namespace velmorin::win32 {
namespace {

// The device watcher has no handle to wait on: its pending changes are
// asked for this often (ConsumeChanges never blocks), as the Qt window's
// notifier would hear them. Changes that the system broadcasts come at once.
constexpr UINT_PTR kDeviceWatchTimer = 1;
constexpr UINT kDeviceWatchMs = 250;

// The controls a run holds: a modal chooser opened during a run would sit
// over a transfer that carries on, and a closed window would hide it.
constexpr int kHeldDuringRun[] = {IDCANCEL,     ID_OPEN_BUTTON, ID_DOWNLOAD_BUTTON,
                                  ID_PATH_EDIT, ID_INCLUDE_COM, ID_NEW_RELEASE_LINK};

// Save trace...: not in the dialog template (it shows only after a run that
// failed), made where the progress bar is, beside Update; the bar shows only
// while a run goes on.
constexpr int kSaveTraceButton = 1040;
constexpr RECT kSaveTracePlace{116, 168, 166, 184};  // dialog units

// The filter of the trace's file dialog.
constexpr wchar_t kTraceFilter[] = L"Trace (*.txt)\0*.txt\0";

UINT MessageBoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return MB_ICONERROR;
    case MessageIcon::Exclamation:
        return MB_ICONEXCLAMATION;
    case MessageIcon::None:
        break;
    }
    return 0;
}

}  // namespace

MainDialog::MainDialog(MainWindowServices services)
    : m_services(std::move(services)), m_applicationName(ApplicationName()) {
    ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ID_MAIN_DIALOG), nullptr,
                         DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_window == nullptr) {
        throw std::runtime_error("cannot create the main window (error " +
                                 std::to_string(::GetLastError()) + ")");
    }
}

MainDialog::~MainDialog() {
    // The worker's calls are served by this thread: it turns until the run
    // has posted its end. A quit message met meanwhile is posted again.
    bool quit = false;
    WPARAM quitCode = 0;
    while (m_logic && m_logic->Upgrading()) {
        MSG message{};
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = message.wParam;
            continue;
        }
        if (got < 0) {
            break;
        }
        if (!PreTranslate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (m_window != nullptr) {
        ::DestroyWindow(m_window);
    }
    for (HICON icon : {m_icon, m_smallIcon, m_picture}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(quitCode));
    }
}

void MainDialog::RunModal() {
    ::ShowWindow(m_window, SW_SHOW);
    while (IsOpen()) {
        MSG message{};
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
            }
            return;
        }
        if (!PreTranslate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

bool MainDialog::PreTranslate(MSG& message) {
    return m_window != nullptr && ::IsDialogMessageW(m_window, &message);
}

INT_PTR CALLBACK MainDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->OnInitDialog(window);
        return TRUE;
    }
    auto* self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void MainDialog::OnInitDialog(HWND window) {
    m_window = window;
    m_icon = LoadProgramIcon(IconSize::Large);
    m_smallIcon = LoadProgramIcon(IconSize::Small);
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    m_picture = ShowPicture(Control(ID_MAIN_PICTURE_CONTROL), ID_MAIN_PICTURE, true);
    m_newReleaseLink.SetUp(Control(ID_NEW_RELEASE_LINK), Widen(m_applicationName));
    RECT place = kSaveTracePlace;
    ::MapDialogRect(window, &place);
    const HWND saveTrace =
        ::CreateWindowExW(0, L"BUTTON", L"Save trace...", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON,
                          place.left, place.top, place.right - place.left, place.bottom - place.top,
                          window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSaveTraceButton)),
                          ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(saveTrace, WM_SETFONT, ::SendMessageW(window, WM_GETFONT, 0, 0), TRUE);
    CopyDataToControls();
    m_viewThread.Attach(window);
    // Arrivals and removals of HID interfaces and COM ports are sent only to
    // windows that ask; node changes (DBT_DEVNODES_CHANGED) reach every
    // top-level window.
    m_deviceNotifications = windows_devices::RegisterChargerNotifications(window);

    MainWindowView& view = *this;
    m_logic =
        std::make_unique<MainWindowLogic>(view, m_runner, m_applicationName, std::move(m_services));
    m_logic->Start();
    ::SetTimer(window, kDeviceWatchTimer, kDeviceWatchMs, nullptr);
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        Close();
        return TRUE;
    case WM_QUERYENDSESSION:
        // The session may end even during a run: the run is recorded as
        // interrupted when it does (WM_ENDSESSION), rather than holding up
        // the log-off or shutdown the operator asked for.
        ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE) {
            EndSession();
        }
        ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_DEVICECHANGE:
        if (m_logic && (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL ||
                        wParam == DBT_DEVICEREMOVECOMPLETE)) {
            m_logic->OnDeviceChange();
        }
        ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_TIMER:
        if (wParam == kDeviceWatchTimer) {
            if (m_logic) {
                m_logic->OnDeviceChange();
            }
            return TRUE;
        }
        break;
    case WindowViewThread::kRunPostedWork:
        m_viewThread.RunPosted();
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == m_newReleaseLink.Handle()) {
            return reinterpret_cast<INT_PTR>(
                m_newReleaseLink.OnControlColor(reinterpret_cast<HDC>(wParam)));
        }
        break;
    case WM_DESTROY:
        ::KillTimer(m_window, kDeviceWatchTimer);
        windows_devices::UnregisterChargerNotifications(m_deviceNotifications);
        break;
    case WM_NCDESTROY:
        m_window = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}

void MainDialog::OnCommand(int id, int code) {
    if (!m_logic) {
        return;
    }
    switch (id) {
    case IDOK:
        // Enter reaches here too: only an enabled Update button starts a run.
        if (code == BN_CLICKED && ::IsWindowEnabled(Control(IDOK))) {
            m_logic->OnUpdate();
        }
        break;
    case IDCANCEL:
        Close();
        break;
    case ID_OPEN_BUTTON:
        if (code == BN_CLICKED) {
            OnOpenFile();
        }
        break;
    case ID_PATH_EDIT:
        if (code == EN_CHANGE) {
            m_logic->OnPathEdited();
        }
        break;
    case ID_INCLUDE_COM:
        if (code == BN_CLICKED) {
            m_logic->OnIncludeComClicked(::IsDlgButtonChecked(m_window, ID_INCLUDE_COM) ==
                                         BST_CHECKED);
        }
        break;
    case ID_SET_SERIAL_NUMBER:
        if (code == BN_CLICKED) {
            m_logic->OnSetSerialNumber();
        }
        break;
    case ID_DOWNLOAD_BUTTON:
        if (code == BN_CLICKED) {
            m_logic->OnDownload();
        }
        break;
    case kSaveTraceButton:
        if (code == BN_CLICKED) {
            m_logic->OnSaveTrace();
        }
        break;
    default:
        break;
    }
}

void MainDialog::Close() {
    if (m_logic && m_logic->Upgrading()) {
        return;
    }
    ::DestroyWindow(m_window);
}

void MainDialog::EndSession() {
    // Windows ends the process once this message returns, whatever its
    // threads are doing: the run's line is written first. While it is, the
    // shutdown screen says why the program is still there.
    const bool upgrading = m_logic && m_logic->Upgrading();
    if (upgrading) {
        ::ShutdownBlockReasonCreate(m_window, L"Recording the interrupted upgrade in the history");
    }
    if (m_logic) {
        m_logic->CloseRuns(kInterruptedRunMessage);
    }
    if (upgrading) {
        ::ShutdownBlockReasonDestroy(m_window);
    }
    ::ExitProcess(0);
}

void MainDialog::OnOpenFile() {
    const auto file = ChooseFile(m_window, FileChoice::Open, kUpdateFileFilter, L"bin");
    if (!file) {
        return;
    }
    // The edit's change runs the header check; the chosen file is checked
    // once more even when the path was already there (the file may be new).
    ::SetDlgItemTextW(m_window, ID_PATH_EDIT, file->c_str());
    m_logic->CheckFile();
}

std::string MainDialog::PathText() {
    // File names travel through the core as UTF-8.
    return Narrow(WindowText(Control(ID_PATH_EDIT)));
}

void MainDialog::SetPathText(const std::string& path) {
    SetControlText(m_window, ID_PATH_EDIT, path);
}

void MainDialog::SetIncludeComChecked(bool checked) {
    ::CheckDlgButton(m_window, ID_INCLUDE_COM, checked ? BST_CHECKED : BST_UNCHECKED);
}

void MainDialog::SetDeviceLines(const std::vector<std::string>& lines) {
    const HWND list = Control(ID_DEVICE_LIST);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // Each line at its own position: line i stays entry i of the device
    // table, whatever sorting the list box would do.
    WPARAM position = 0;
    for (const std::string& line : lines) {
        const std::wstring text = Widen(line);
        ::SendMessageW(list, LB_INSERTSTRING, position++, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void MainDialog::SelectDeviceLine(int line) {
    ::SendDlgItemMessageW(m_window, ID_DEVICE_LIST, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
}

int MainDialog::SelectedDeviceLine() {
    const LRESULT line = ::SendDlgItemMessageW(m_window, ID_DEVICE_LIST, LB_GETCURSEL, 0, 0);
    return line == LB_ERR ? -1 : static_cast<int>(line);
}

void MainDialog::EnableDeviceList(bool enabled) {
    EnableControl(m_window, ID_DEVICE_LIST, enabled);
}

void MainDialog::EnableUpdateButton(bool enabled) {
    EnableControl(m_window, IDOK, enabled);
}

void MainDialog::ShowStatus(bool visible) {
    ShowControl(m_window, ID_STATUS_TEXT, visible);
}

void MainDialog::SetStatusText(const std::string& text) {
    SetControlText(m_window, ID_STATUS_TEXT, text);
}

void MainDialog::ShowProgress(bool visible) {
    ShowControl(m_window, ID_PROGRESS, visible);
}

void MainDialog::SetProgressRange(int maximum) {
    ::SendDlgItemMessageW(m_window, ID_PROGRESS, PBM_SETRANGE32, 0, maximum);
}

void MainDialog::SetProgressPosition(int position) {
    ::SendDlgItemMessageW(m_window, ID_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void MainDialog::ShowFileInfo(const FileInfoText& info) {
    SetControlText(m_window, ID_VERSION_TEXT, info.version);
    SetControlText(m_window, ID_TYPE_TEXT, info.type);
    SetControlText(m_window, ID_MEMO_TEXT, info.memo);
    ShowControl(m_window, ID_FILE_MESSAGE, false);
    for (int label : {ID_VERSION_LABEL, ID_TYPE_LABEL, ID_MEMO_LABEL}) {
        ShowControl(m_window, label, true);
    }
}

void MainDialog::ClearFileInfo() {
    for (int label : {ID_VERSION_LABEL, ID_TYPE_LABEL, ID_MEMO_LABEL}) {
        ShowControl(m_window, label, false);
    }
    for (int text : {ID_VERSION_TEXT, ID_TYPE_TEXT, ID_MEMO_TEXT}) {
        ::SetDlgItemTextW(m_window, text, L"");
    }
}

void MainDialog::SetFileMessage(std::string_view text, bool visible) {
    SetControlText(m_window, ID_FILE_MESSAGE, text);
    ShowControl(m_window, ID_FILE_MESSAGE, visible);
}

void MainDialog::ShowReleaseLink(const std::string& address) {
    m_newReleaseLink.SetUrl(Widen(address));
    m_newReleaseLink.DisableUnderline();
    ShowControl(m_window, ID_NEW_RELEASE_LINK, true);
}

void MainDialog::HideReleaseLink() {
    ShowControl(m_window, ID_NEW_RELEASE_LINK, false);
}

void MainDialog::ShowSerialNumberControls(bool visible) {
    for (int id : {ID_SERIAL_NUMBER_CHECK, ID_SERIAL_NUMBER_EDIT, ID_SET_SERIAL_NUMBER}) {
        ShowControl(m_window, id, visible);
    }
}

void MainDialog::HoldControls(bool held) {
    if (held) {
        m_held.clear();
        for (int id : kHeldDuringRun) {
            m_held.emplace_back(id, ::IsWindowEnabled(Control(id)) != FALSE);
            EnableControl(m_window, id, false);
        }
        return;
    }
    for (const auto& [id, enabled] : m_held) {
        EnableControl(m_window, id, enabled);
    }
    m_held.clear();
}

void MainDialog::CopyDataToControls() {
    // The only data that the dialog keeps apart from its controls is the
    // hidden serial number, limited to 10 characters.
    ::SendDlgItemMessageW(m_window, ID_SERIAL_NUMBER_EDIT, EM_SETLIMITTEXT, 10, 0);
}

void MainDialog::ShowSaveTraceButton(bool visible) {
    ShowControl(m_window, kSaveTraceButton, visible);
}

std::string MainDialog::AskTracePath() {
    const auto file =
        ChooseFile(m_window, FileChoice::Save, kTraceFilter, L"txt", L"velmorin-trace.txt");
    return file ? Narrow(*file) : std::string();
}

void MainDialog::ShowMessageBox(std::string_view text, std::string_view caption, MessageIcon icon) {
    ::MessageBoxW(m_window, Widen(text).c_str(), Widen(caption).c_str(),
                  MB_OK | MessageBoxIcon(icon));
}

void MainDialog::RunDownloadDialog(CatalogueContents contents) {
    MainWindowLogic& logic = *m_logic;
    DownloadDialog dialog(m_window, std::move(contents),
                          [&logic](const std::string& path) { logic.TakeDownloadedFile(path); });
    dialog.Run();
}

}  // namespace velmorin::win32
