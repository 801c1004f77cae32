// SPDX-License-Identifier: MIT
// The Windows main dialog driven as the operator drives it, through its
// control IDs only, against a simulated charger: a file the core rejects
// shows its reason; the sealed update file given shows the Version, Type and
// Memo that the core reads from it; the charger's line is selected; Update
// runs the upgrade, during which the window refuses to close, to the message
// box "Upgrade completion!" (closed with its OK button); then the device
// list is live again with its first line selected, and Exit closes the
// window. With --screenshot DIR it also renders the window in the README's
// three states (no file; a file accepted with a charger listed; upgrading)
// to DIR/windows-no-file.png, windows-file-accepted.png and
// windows-upgrading.png.
// With --end-session it first shows that Windows ending the session during
// a run leaves the run on record: in a process of its own, the window's
// upgrade has a block refused (the charger is run with --refuse-block K
// --refuse-count 1, K > 0) and, as the window shows the second attempt
// (whose first step waits for the window's thread, so the run cannot end
// meanwhile), the window is sent WM_QUERYENDSESSION, which must let the
// session end, and WM_ENDSESSION, which must end the process; its history
// then holds one run, interrupted with the ending's message and the blocks
// the charger took.
//
// Usage: win32_dialog_test UPDATE-FILE COMn [--line TEXT] [--screenshot DIR]
//                          [--end-session]
// COMn is entered in the system's serial map for the run, as a serial
// driver enters its ports: Wine lists no port of its Ports class for a
// terminal that its prefix's dosdevices/comN leads to.
// The charger's line is the one that contains TEXT, by default "(COMn)"
// (a plain port is listed by its name once "Include COMx Port" is ticked; a
// charger is listed by type and serial number, e.g. "S/N:0001A2B3").
// Exit status: 0 passed; 1 a check failed (said on standard error); 2 usage.
#include <windows.h>
// The headers below need the types of <windows.h>.
#include <commctrl.h>
#include <ole2.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui-win32/main_dialog.h"
#include "gui-win32/resource_ids.h"
#include "gui-win32/wide_text.h"
#include "image/update_image.h"
#include "protocol/upgrade_texts.h"
#include "session/ledger.h"
#include "session/run_journal.h"

namespace {

using namespace velmorin;
using namespace velmorin::win32;

// A generous bound for a whole serial upgrade under Wine.
constexpr DWORD kUpgradeTimeoutMs = 180000;
constexpr DWORD kSettleMs = 300;

struct CheckFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Check(bool condition, const std::string& what) {
    if (!condition) {
        throw CheckFailed(what);
    }
}

void Say(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// What the core's header check shows for a file.
class RecordingDisplay : public FileInfoDisplay {
public:
    void ResetFileInfo(std::string_view why) override {
        accepted = false;
        reason = why;
    }
    void ShowFileInfo(const FileInfoText& text) override {
        accepted = true;
        info = text;
    }
    void ShowMessageBox(std::string_view, std::string_view, MessageIcon) override {}

    bool accepted = false;
    std::string reason;
    FileInfoText info;
};

RecordingDisplay CoreCheck(const std::filesystem::path& file) {
    RecordingDisplay display;
    UpdateImage image;
    CheckUpdateFile(file, image, display);
    return display;
}

std::wstring ControlText(HWND dialog, int id) {
    return WindowText(::GetDlgItem(dialog, id));
}

bool Visible(HWND dialog, int id) {
    return ::IsWindowVisible(::GetDlgItem(dialog, id)) != FALSE;
}

bool Enabled(HWND dialog, int id) {
    return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE;
}

// Presses a button as a click would (an auto check box changes its state).
void Click(HWND dialog, int id) {
    ::SendDlgItemMessageW(dialog, id, BM_CLICK, 0, 0);
}

std::vector<std::wstring> DeviceLines(HWND dialog) {
    std::vector<std::wstring> lines;
    const auto count = ::SendDlgItemMessageW(dialog, ID_DEVICE_LIST, LB_GETCOUNT, 0, 0);
    for (LRESULT line = 0; line < count; ++line) {
        const auto length = ::SendDlgItemMessageW(dialog, ID_DEVICE_LIST, LB_GETTEXTLEN,
                                                  static_cast<WPARAM>(line), 0);
        std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        ::SendDlgItemMessageW(dialog, ID_DEVICE_LIST, LB_GETTEXT, static_cast<WPARAM>(line),
                              reinterpret_cast<LPARAM>(text.data()));
        text.resize(std::wcslen(text.c_str()));
        lines.push_back(text);
    }
    return lines;
}

std::optional<int> FindLine(const std::vector<std::wstring>& lines, const std::wstring& text) {
    const auto found = std::find_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.find(text) != std::wstring::npos;
    });
    return found == lines.end() ? std::nullopt
                                : std::optional<int>(static_cast<int>(found - lines.begin()));
}

// Handles the thread's messages until `done` says so or `timeoutMs` has
// passed; false on the time-out.
bool PumpUntil(MainDialog& dialog, const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) {
            return false;
        }
        ::MsgWaitForMultipleObjectsEx(0, nullptr,
                                      static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)),
                                      QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!dialog.PreTranslate(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }
    return true;
}

void Settle(MainDialog& dialog) {
    PumpUntil(
        dialog, [] { return false; }, kSettleMs);
}

// Message boxes of this thread, closed with their OK button as soon as they
// show, their caption and text kept. It looks every 50 ms from a timer of a
// window of its own, so it also runs inside a box's own message loop; each
// look also runs `everyLook`.
class BoxCloser {
public:
    struct Box {
        std::wstring caption;
        std::wstring text;
    };

    BoxCloser() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"velmorin-test-box-closer";
        ::RegisterClassW(&windowClass);
        m_window = ::CreateWindowExW(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0,
                                     HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetTimer(m_window, 1, 50, nullptr);
    }
    ~BoxCloser() { ::DestroyWindow(m_window); }
    BoxCloser(const BoxCloser&) = delete;
    BoxCloser& operator=(const BoxCloser&) = delete;

    const std::vector<Box>& Boxes() const { return m_boxes; }
    std::function<void()> everyLook;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<BoxCloser*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_TIMER && self != nullptr) {
            self->Look();
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    static BOOL CALLBACK AddWindow(HWND window, LPARAM windows) {
        reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
        return TRUE;
    }

    void Look() {
        std::vector<HWND> windows;
        ::EnumThreadWindows(::GetCurrentThreadId(), AddWindow, reinterpret_cast<LPARAM>(&windows));
        for (HWND window : windows) {
            wchar_t className[32] = L"";
            ::GetClassNameW(window, className, 32);
            // A message box is a dialog with its text in static 0xFFFF.
            const HWND text = ::GetDlgItem(window, 0xFFFF);
            if (std::wstring_view(className) != L"#32770" || text == nullptr ||
                !::IsWindowVisible(window) || m_closed.count(window) != 0) {
                continue;
            }
            m_closed.insert(window);
            m_boxes.push_back({WindowText(window), WindowText(text)});
            Say("message box \"" + Narrow(m_boxes.back().caption) +
                "\": " + Narrow(m_boxes.back().text));
            ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(window, IDOK)));
        }
        if (everyLook) {
            everyLook();
        }
    }

    HWND m_window = nullptr;
    std::set<HWND> m_closed;
    std::vector<Box> m_boxes;
};

// The window's client area as a PNG file (through the imaging component).
// Returns what went wrong, empty on success: it also runs from a timer, out
// of which nothing may be thrown.
std::string SavePicture(HWND window, const std::filesystem::path& file) {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    ::GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    const HDC source = ::GetDC(window);
    const HDC copy = ::CreateCompatibleDC(source);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(copy, &format, DIB_RGB_COLORS, &pixels, nullptr, 0);
    const HGDIOBJ previous = ::SelectObject(copy, bitmap);
    const bool copied = ::BitBlt(copy, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    ::GdiFlush();
    const UINT stride = static_cast<UINT>((width * 3 + 3) & ~3);

    HRESULT result = copied ? S_OK : E_FAIL;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    if (SUCCEEDED(result)) {
        result = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&factory));
    }
    if (SUCCEEDED(result)) {
        result = factory->CreateStream(&stream);
    }
    if (SUCCEEDED(result)) {
        result = stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE);
    }
    if (SUCCEEDED(result)) {
        result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    }
    if (SUCCEEDED(result)) {
        result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    }
    if (SUCCEEDED(result)) {
        result = encoder->CreateNewFrame(&frame, &options);
    }
    if (SUCCEEDED(result)) {
        result = frame->Initialize(options);
    }
    WICPixelFormatGUID pixelFormat = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(result)) {
        result = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
    }
    if (SUCCEEDED(result)) {
        result = frame->SetPixelFormat(&pixelFormat);
    }
    if (SUCCEEDED(result) && !IsEqualGUID(pixelFormat, GUID_WICPixelFormat24bppBGR)) {
        result = E_FAIL;
    }
    if (SUCCEEDED(result)) {
        result = frame->WritePixels(static_cast<UINT>(height), stride,
                                    stride * static_cast<UINT>(height), static_cast<BYTE*>(pixels));
    }
    if (SUCCEEDED(result)) {
        result = frame->Commit();
    }
    if (SUCCEEDED(result)) {
        result = encoder->Commit();
    }
    for (IUnknown* object :
         std::initializer_list<IUnknown*>{options, frame, encoder, stream, factory}) {
        if (object != nullptr) {
            object->Release();
        }
    }
    ::SelectObject(copy, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(copy);
    ::ReleaseDC(window, source);
    if (FAILED(result)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
        return "cannot write " + Narrow(file.wstring()) + ": " + code;
    }
    Say("wrote " + Narrow(file.wstring()) + " (" + std::to_string(width) + " x " +
        std::to_string(height) + ")");
    return {};
}

// Sets a variable for the process and its C runtime alike.
void SetVariable(const char* name, const std::string& value) {
    ::_putenv_s(name, value.c_str());
}

struct Options {
    std::filesystem::path updateFile;
    std::wstring port;
    std::wstring line;
    std::optional<std::filesystem::path> screenshots;
    bool endSession = false;
    // Set in the process that ends the session: the history it keeps.
    std::optional<std::filesystem::path> endingHistory;
};

constexpr wchar_t kEndingOption[] = L"--ending-session-with-history";

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
    Options options;
    std::vector<std::wstring> positional;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--line" && i + 1 < argc) {
            options.line = argv[++i];
        } else if (argument == L"--screenshot" && i + 1 < argc) {
            options.screenshots = argv[++i];
        } else if (argument == L"--end-session") {
            options.endSession = true;
        } else if (argument == kEndingOption && i + 1 < argc) {
            options.endingHistory = argv[++i];
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) {
        return std::nullopt;
    }
    options.updateFile = positional[0];
    options.port = positional[1];
    if (options.line.empty()) {
        options.line = L"(" + options.port + L")";
    }
    return options;
}

// The line of the device list that contains `text`, with "Include COMx
// Port" ticked when it is not listed otherwise.
std::optional<int> ChargerLine(HWND window, const std::wstring& text) {
    std::vector<std::wstring> lines = DeviceLines(window);
    std::optional<int> line = FindLine(lines, text);
    if (!line) {
        Click(window, ID_INCLUDE_COM);
        Check(::IsDlgButtonChecked(window, ID_INCLUDE_COM) == BST_CHECKED,
              "\"Include COMx Port\" does not tick");
        lines = DeviceLines(window);
        line = FindLine(lines, text);
    }
    for (const std::wstring& shown : lines) {
        Say("device list: " + Narrow(shown));
    }
    Check(line.has_value(), "no line of the device list contains \"" + Narrow(text) + "\"");
    return line;
}

// The session's end, sent to the main window from its status line as it
// shows the run's second attempt: that attempt's first step (the selected
// charger) waits for this thread, so the run is certainly under way, past
// its first blocks, and cannot end before the window has answered.
struct SessionEnding {
    HWND dialog = nullptr;
    bool sent = false;
    std::string problem;  // what the window did wrong; the process carried on
};

LRESULT CALLBACK EndSessionOnSecondAttempt(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR data) {
    auto* ending = reinterpret_cast<SessionEnding*>(data);
    if (message != WM_SETTEXT || ending->sent || lParam == 0 ||
        reinterpret_cast<const wchar_t*>(lParam) != Widen(kStatusConnectingAgain)) {
        return ::DefSubclassProc(control, message, wParam, lParam);
    }
    ending->sent = true;
    const LRESULT result = ::DefSubclassProc(control, message, wParam, lParam);
    Say("the window shows \"" + std::string(kStatusConnectingAgain) + "\": the session ends");
    // Nothing may be thrown out of a window's procedure: what goes wrong is
    // kept for the test's own loop.
    if (::SendMessageW(ending->dialog, WM_QUERYENDSESSION, 0, 0) != TRUE) {
        ending->problem = "the window does not let the session end (WM_QUERYENDSESSION)";
        return result;
    }
    ::SendMessageW(ending->dialog, WM_ENDSESSION, TRUE, 0);
    ending->problem = "the process carried on after WM_ENDSESSION";
    return result;
}

// In the process of its own: the upgrade, and the session's end during it.
// Returns only when the window did not end the process.
void EndSessionDuringRun(const Options& options) {
    MainWindowServices services;
    services.ledgerPath = *options.endingHistory;
    BoxCloser boxes;
    MainDialog dialog(services);
    const HWND window = dialog.Handle();
    ::ShowWindow(window, SW_SHOW);
    Settle(dialog);
    ::SetDlgItemTextW(window, ID_PATH_EDIT, options.updateFile.c_str());
    const std::optional<int> line = ChargerLine(window, options.line);
    ::SendDlgItemMessageW(window, ID_DEVICE_LIST, LB_SETCURSEL, static_cast<WPARAM>(*line), 0);
    Check(Enabled(window, IDOK), "Update is disabled with a file accepted and a charger listed");

    SessionEnding ending;
    ending.dialog = window;
    const HWND status = ::GetDlgItem(window, ID_STATUS_TEXT);
    Check(::SetWindowSubclass(status, EndSessionOnSecondAttempt, 1,
                              reinterpret_cast<DWORD_PTR>(&ending)) != FALSE,
          "the status line cannot be watched");
    Click(window, IDOK);
    const bool over = PumpUntil(
        dialog, [&] { return ending.sent || !boxes.Boxes().empty(); }, kUpgradeTimeoutMs);
    ::RemoveWindowSubclass(status, EndSessionOnSecondAttempt, 1);
    Check(over, "the upgrade did not reach its second attempt within " +
                    std::to_string(kUpgradeTimeoutMs / 1000) + " s");
    Check(ending.sent, "the upgrade ended (\"" + Narrow(boxes.Boxes().front().text) +
                           "\") without a second attempt: the charger must refuse a block once");
    throw CheckFailed(ending.problem);
}

// Runs this program again to end the session during a run, and checks what
// that run left in the history.
void CheckSessionEnd(const Options& options) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("velmorin-session-end-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::remove_all(folder);
    const std::filesystem::path history = folder / "history.jsonl";

    wchar_t program[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\" " + kEndingOption + L" \"" +
                               history.wstring() + L"\" \"" + options.updateFile.wstring() +
                               L"\" " + options.port + L" --line \"" + options.line + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    Check(::CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process) != FALSE,
          "cannot run the window in a process of its own (error " +
              std::to_string(::GetLastError()) + ")");
    const DWORD waited = ::WaitForSingleObject(process.hProcess, kUpgradeTimeoutMs + 60000);
    if (waited != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 3);
    }
    DWORD status = 0;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    Check(waited == WAIT_OBJECT_0, "the window's process did not end");
    Check(status == 0,
          "the window's process ended with status " + std::to_string(status) + ", not 0");

    const LedgerContents contents = ReadLedger(history);
    std::filesystem::remove_all(folder);
    Check(contents.warnings.empty(), "the history has lines that cannot be read");
    Check(contents.entries.size() == 1,
          "the history holds " + std::to_string(contents.entries.size()) + " runs, not one");
    const LedgerEntry& run = contents.entries.front();
    Check(run.outcome == LedgerOutcome::Interrupted &&
              run.message == std::string(kInterruptedRunMessage),
          "the run is on record as " + std::string(LedgerOutcomeName(run.outcome)) + " (\"" +
              run.message + "\"), not as interrupted by the session's end");
    Check(run.frames > 0 && run.attempts == 2,
          "the interrupted run is on record with " + std::to_string(run.frames) + " frames in " +
              std::to_string(run.attempts) + " attempts, not those of the first");
    Say("the session's end left the run on record as interrupted after " +
        std::to_string(run.frames) + " blocks");
}

void Run(const Options& options) {
    // A refused loopback port: the release check ends at once and hides the
    // new-release link, as without a network.
    for (const char* server : {"VELMORIN_UPDATE_SERVER", "VELMORIN_FALLBACK_SERVER"}) {
        const char* value = std::getenv(server);
        if (value == nullptr || *value == '\0') {
            SetVariable(server, "127.0.0.1:1");
        }
    }

    if (options.endingHistory) {
        EndSessionDuringRun(options);
        return;
    }
    if (options.endSession) {
        CheckSessionEnd(options);
    }

    const RecordingDisplay expected = CoreCheck(options.updateFile);
    Check(expected.accepted, "the core does not accept " + Narrow(options.updateFile.wstring()) +
                                 " (" + expected.reason + ")");
    // A file the core rejects: 600 bytes that no key turns into a header.
    const std::filesystem::path rejected =
        std::filesystem::temp_directory_path() /
        ("velmorin-rejected-" + std::to_string(::GetCurrentProcessId()) + ".bin");
    std::ofstream(rejected, std::ios::binary) << std::string(600, '\x5A');
    const RecordingDisplay rejection = CoreCheck(rejected);
    Check(!rejection.accepted && !rejection.reason.empty(),
          "the core gives no reason for rejecting a file of 600 bytes");

    BoxCloser boxes;
    MainDialog dialog;
    const HWND window = dialog.Handle();
    ::ShowWindow(window, SW_SHOW);
    Settle(dialog);
    Check(!Enabled(window, IDOK), "Update is enabled before a file is chosen");
    Check(!Visible(window, ID_PROGRESS) && !Visible(window, ID_STATUS_TEXT),
          "the progress bar or the status line shows before a run");
    Check(!Visible(window, ID_NEW_RELEASE_LINK), "the new-release link shows without a catalogue");
    if (options.screenshots) {
        std::filesystem::create_directories(*options.screenshots);
        const std::string problem =
            SavePicture(window, *options.screenshots / "windows-no-file.png");
        Check(problem.empty(), problem);
    }

    // A rejected file: its reason in the file message, no file information.
    ::SetDlgItemTextW(window, ID_PATH_EDIT, rejected.c_str());
    Check(Visible(window, ID_FILE_MESSAGE) &&
              ControlText(window, ID_FILE_MESSAGE) == Widen(rejection.reason),
          "a rejected file does not show \"" + rejection.reason + "\" but \"" +
              Narrow(ControlText(window, ID_FILE_MESSAGE)) + "\"");
    Check(!Visible(window, ID_VERSION_LABEL) && !Enabled(window, IDOK),
          "a rejected file shows file information or enables Update");
    std::filesystem::remove(rejected);

    // The update file: what the core reads from it, with the labels.
    ::SetDlgItemTextW(window, ID_PATH_EDIT, options.updateFile.c_str());
    const std::pair<int, std::string> shown[] = {{ID_VERSION_TEXT, expected.info.version},
                                                 {ID_TYPE_TEXT, expected.info.type},
                                                 {ID_MEMO_TEXT, expected.info.memo}};
    for (const auto& [id, text] : shown) {
        Check(ControlText(window, id) == Widen(text),
              "control " + std::to_string(id) + " shows \"" + Narrow(ControlText(window, id)) +
                  "\" instead of \"" + text + "\"");
    }
    for (int label : {ID_VERSION_LABEL, ID_TYPE_LABEL, ID_MEMO_LABEL}) {
        Check(Visible(window, label), "label " + std::to_string(label) + " is hidden");
    }
    Check(!Visible(window, ID_FILE_MESSAGE), "the file message stays with an accepted file");
    Say("file information: Version " + expected.info.version + ", Type " + expected.info.type +
        ", Memo " + expected.info.memo);

    // The charger's line.
    const std::optional<int> line = ChargerLine(window, options.line);
    ::SendDlgItemMessageW(window, ID_DEVICE_LIST, LB_SETCURSEL, static_cast<WPARAM>(*line), 0);
    Check(Enabled(window, IDOK), "Update is disabled with a file accepted and a charger listed");
    // The operator's next step: the focus on Update.
    ::SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(window, IDOK)),
                   TRUE);
    if (options.screenshots) {
        Settle(dialog);
        const std::string problem =
            SavePicture(window, *options.screenshots / "windows-file-accepted.png");
        Check(problem.empty(), problem);
    }

    // The upgrade: the window refuses to close until the run has ended, and
    // the progress bar follows the transfer to its last block.
    bool pictured = !options.screenshots;
    std::string pictureProblem;
    boxes.everyLook = [&] {
        if (!::IsWindow(window) || !Visible(window, ID_PROGRESS)) {
            return;
        }
        const auto position = ::SendDlgItemMessageW(window, ID_PROGRESS, PBM_GETPOS, 0, 0);
        const auto maximum = ::SendDlgItemMessageW(window, ID_PROGRESS, PBM_GETRANGE, FALSE, 0);
        if (!pictured && maximum > 0 && position * 5 > maximum * 2) {
            pictured = true;
            pictureProblem = SavePicture(window, *options.screenshots / "windows-upgrading.png");
        }
    };
    // A device change meanwhile would have rebuilt the list and selected its
    // first line: the charger's line is chosen again right before the click.
    ::SendDlgItemMessageW(window, ID_DEVICE_LIST, LB_SETCURSEL, static_cast<WPARAM>(*line), 0);
    Click(window, IDOK);
    Check(!Enabled(window, ID_DEVICE_LIST), "the device list stays enabled when Update is pressed");
    ::SendMessageW(window, WM_CLOSE, 0, 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    Check(dialog.IsOpen() && ::IsWindow(window), "the window closed while the upgrade ran");
    const bool ended = PumpUntil(
        dialog, [&] { return !boxes.Boxes().empty() && Enabled(window, ID_DEVICE_LIST); },
        kUpgradeTimeoutMs);
    Check(ended,
          "the upgrade did not end within " + std::to_string(kUpgradeTimeoutMs / 1000) + " s");
    Check(boxes.Boxes().size() == 1 && boxes.Boxes().front().text == L"Upgrade completion!",
          "the upgrade did not end with the one message box \"Upgrade completion!\"");
    const auto lastPosition = ::SendDlgItemMessageW(window, ID_PROGRESS, PBM_GETPOS, 0, 0);
    const auto lastBlock = ::SendDlgItemMessageW(window, ID_PROGRESS, PBM_GETRANGE, FALSE, 0) - 1;
    Check(lastBlock > 0 && lastPosition == lastBlock,
          "the progress bar stopped at " + std::to_string(lastPosition) + " of " +
              std::to_string(lastBlock + 1) + " blocks");
    Check(pictured, "the progress bar never passed two fifths while the upgrade ran");
    Check(pictureProblem.empty(), pictureProblem);

    // After the run: the list live again, its first line selected.
    Settle(dialog);
    Check(Enabled(window, IDCANCEL) && Enabled(window, ID_OPEN_BUTTON),
          "Exit or Open... stay disabled after the run");
    Check(::SendDlgItemMessageW(window, ID_DEVICE_LIST, LB_GETCURSEL, 0, 0) == 0,
          "the device list's first line is not selected after the run");
    Check(Enabled(window, IDOK), "Update stays disabled after the run");

    // A file whose name the system's ANSI code page cannot spell (as in a
    // user folder named in another script): the path goes through the core
    // as UTF-8 and must come out as the same file.
    const std::filesystem::path unusualName = std::filesystem::temp_directory_path() /
                                              (L"velmorin-Pr\u00FCfung-\u20AC-\u0416-" +
                                               std::to_wstring(::GetCurrentProcessId()) + L".bin");
    std::filesystem::copy_file(options.updateFile, unusualName,
                               std::filesystem::copy_options::overwrite_existing);
    ::SetDlgItemTextW(window, ID_PATH_EDIT, unusualName.c_str());
    const std::wstring unusualVersion = ControlText(window, ID_VERSION_TEXT);
    std::filesystem::remove(unusualName);
    Check(unusualVersion == Widen(expected.info.version),
          "a file named " + Narrow(unusualName.filename().wstring()) + " shows Version \"" +
              Narrow(unusualVersion) + "\" instead of \"" + expected.info.version + "\"");

    Click(window, IDCANCEL);
    Check(!dialog.IsOpen() && !::IsWindow(window), "Exit does not close the window");
    Say("passed");
}

}  // namespace

// The port in the system's serial map (HARDWARE\DEVICEMAP\SERIALCOMM, a
// volatile key: it goes with the system's, or Wine's server's, end), under a
// device name of its own that is taken out again at the end.
class MappedPort {
public:
    explicit MappedPort(const std::wstring& port) : m_deviceName(L"\\Device\\VelmorinTest" + port) {
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &m_key,
                              nullptr) != ERROR_SUCCESS) {
            m_key = nullptr;
            return;
        }
        ::RegSetValueExW(m_key, m_deviceName.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(port.c_str()),
                         static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
    }
    ~MappedPort() {
        if (m_key != nullptr) {
            ::RegDeleteValueW(m_key, m_deviceName.c_str());
            ::RegCloseKey(m_key);
        }
    }
    MappedPort(const MappedPort&) = delete;
    MappedPort& operator=(const MappedPort&) = delete;

private:
    std::wstring m_deviceName;
    HKEY m_key = nullptr;
};

int wmain(int argc, wchar_t** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(
            "usage: win32_dialog_test UPDATE-FILE COMn [--line TEXT] [--screenshot DIR] "
            "[--end-session]\n",
            stderr);
        return 2;
    }
    // The process that ends the session finds the port mapped by the one
    // that started it.
    std::optional<MappedPort> mapped;
    if (!options->endingHistory) {
        mapped.emplace(options->port);
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
    if (FAILED(::OleInitialize(nullptr))) {
        std::fputs("win32_dialog_test: OLE cannot be initialised\n", stderr);
        return 1;
    }
    int status = 0;
    try {
        Run(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "win32_dialog_test: %s\n", error.what());
        status = 1;
    }
    ::OleUninitialize();
    return status;
}
