// SPDX-License-Identifier: MIT
// The hyperlink control.
#include "gui-win32/hyperlink_control.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "gui-win32/wide_text.h"

namespace velmorin::win32 {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kToolId = 1;

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
}

// The address as it is opened: http and https addresses as they stand, a
// bare host name (with a path, a port) as an http address; empty for every
// other address (other schemes, file paths, drive letters).
std::wstring WebAddress(std::wstring url) {
    const auto notBlank = [](wchar_t c) { return !std::iswspace(c); };
    url.erase(url.begin(), std::find_if(url.begin(), url.end(), notBlank));
    url.erase(std::find_if(url.rbegin(), url.rend(), notBlank).base(), url.end());
    if (url.empty()) {
        return {};
    }
    if (url.find(L"://") != std::wstring::npos) {
        return StartsWithNoCase(url, L"http://") || StartsWithNoCase(url, L"https://")
                   ? url
                   : std::wstring();
    }
    // A host name: letters, digits, '-' and '.' up to an optional port and path.
    const std::size_t hostEnd = url.find_first_of(L":/?#");
    const std::wstring_view host = std::wstring_view(url).substr(0, hostEnd);
    const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](wchar_t c) {
        return (c < 0x80 && std::iswalnum(c)) || c == L'-' || c == L'.';
    });
    if (!hostOk) {
        return {};
    }
    if (hostEnd != std::wstring::npos && url[hostEnd] == L':') {
        // Only a port may follow the colon ("mailto:" and "c:" are no hosts).
        const std::size_t portEnd = url.find_first_of(L"/?#", hostEnd);
        const std::wstring_view port =
            std::wstring_view(url).substr(hostEnd + 1, portEnd - hostEnd - 1);
        if (port.empty() || !std::all_of(port.begin(), port.end(),
                                         [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
            return {};
        }
    }
    return L"http://" + url;
}

// A text value of HKEY_CLASSES_ROOT, empty when it cannot be read.
std::wstring ClassesRootText(const std::wstring& key) {
    DWORD size = 0;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr,
                       RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, nullptr,
                       &size) != ERROR_SUCCESS ||
        size == 0) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr,
                       RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, value.data(),
                       &size) != ERROR_SUCCESS) {
        return {};
    }
    value.resize(std::wcslen(value.c_str()));
    return value;
}

// The command that the system registers for web pages, run on `address`:
// the placeholder "%1" (with its quotes) gives way to the quoted address.
// False when there is no such command or it cannot be started.
bool RunRegisteredBrowser(const std::wstring& address) {
    // An address with a quote could end its argument and add others.
    if (address.find(L'"') != std::wstring::npos) {
        return false;
    }
    const std::wstring pageClass = ClassesRootText(L".htm");
    if (pageClass.empty()) {
        return false;
    }
    std::wstring command = ClassesRootText(pageClass + L"\\shell\\open\\command");
    if (command.empty()) {
        return false;
    }
    std::size_t cut = command.find(L"\"%1\"");
    if (cut == std::wstring::npos) {
        cut = command.find(L"%1");
    }
    if (cut != std::wstring::npos) {
        command.resize(cut);
    }
    while (!command.empty() && command.back() == L' ') {
        command.pop_back();
    }
    command += L" \"" + address + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return false;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

}  // namespace

int OpenWebAddress(const std::wstring& url) {
    // Addresses come from the maker's catalogue: only web pages are opened,
    // never files or other programs' schemes.
    const std::wstring address = WebAddress(url);
    if (address.empty()) {
        return 5;  // access denied
    }
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOW));
    if (result > kHyperlinkFailureCodes) {
        return kHyperlinkOpened;
    }
    return RunRegisteredBrowser(address) ? kHyperlinkOpened : static_cast<int>(result);
}

HyperlinkControl::HyperlinkControl() : m_hoverColor(::GetSysColor(COLOR_HIGHLIGHT)) {}

HyperlinkControl::~HyperlinkControl() {
    if (m_control != nullptr) {
        ::RemoveWindowSubclass(m_control, SubclassProc, kSubclassId);
    }
    if (m_tooltip != nullptr && ::IsWindow(m_tooltip)) {
        ::DestroyWindow(m_tooltip);
    }
    if (m_font != nullptr) {
        if (m_control != nullptr && ::IsWindow(m_control)) {
            ::SendMessageW(m_control, WM_SETFONT, 0, FALSE);
        }
        ::DeleteObject(m_font);
    }
}

void HyperlinkControl::SetUp(HWND control, std::wstring caption) {
    m_control = control;
    m_caption = std::move(caption);
    // A static text reports clicks (and takes the mouse at all) only with
    // SS_NOTIFY.
    ::SetWindowLongPtrW(control, GWL_STYLE, ::GetWindowLongPtrW(control, GWL_STYLE) | SS_NOTIFY);
    const std::wstring text = WindowText(control);
    if (m_url.empty()) {
        m_url = text;
    }
    if (text.empty()) {
        ::SetWindowTextW(control, m_url.c_str());
    }
    ApplyFont();
    ::SetWindowSubclass(control, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

    m_tooltip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                  WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, ::GetParent(control),
                                  nullptr, nullptr, nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = control;
    tool.uId = kToolId;
    ::GetClientRect(control, &tool.rect);
    tool.lpszText = m_url.data();
    ::SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    FitToText();
}

void HyperlinkControl::SetUrl(std::wstring url) {
    m_url = std::move(url);
    if (m_control == nullptr) {
        return;
    }
    FitToText();
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_control;
    tool.uId = kToolId;
    tool.lpszText = m_url.data();
    ::SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void HyperlinkControl::DisableUnderline() {
    m_underline = false;
    if (m_control != nullptr) {
        ApplyFont();
        ::InvalidateRect(m_control, nullptr, TRUE);
    }
}

COLORREF HyperlinkControl::CurrentColor() const {
    return m_mouseOver ? m_hoverColor : m_visited ? m_visitedColor : m_linkColor;
}

HBRUSH HyperlinkControl::OnControlColor(HDC dc) const {
    ::SetTextColor(dc, CurrentColor());
    ::SetBkMode(dc, TRANSPARENT);
    // The dialog's own face: a changed text or colour paints over the old one.
    return ::GetSysColorBrush(COLOR_BTNFACE);
}

bool HyperlinkControl::Open() {
    const int result = OpenWebAddress(m_url);
    m_visited = result > kHyperlinkFailureCodes;
    Redraw();
    if (!m_visited) {
        ::MessageBeep(MB_ICONEXCLAMATION);
        const std::wstring text = Widen(HyperlinkFailureText(result));
        ::MessageBoxW(::GetAncestor(m_control, GA_ROOT), text.c_str(), m_caption.c_str(),
                      MB_OK | MB_ICONEXCLAMATION);
    }
    return m_visited;
}

// The dialog's font, underlined or not, as the control's own.
void HyperlinkControl::ApplyFont() {
    auto current = reinterpret_cast<HFONT>(::SendMessageW(m_control, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    if (current == nullptr ||
        ::GetObjectW(current, sizeof description, &description) != sizeof description) {
        ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    }
    description.lfUnderline = m_underline ? TRUE : FALSE;
    const HFONT font = ::CreateFontIndirectW(&description);
    if (font == nullptr) {
        return;
    }
    ::SendMessageW(m_control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (m_font != nullptr) {
        ::DeleteObject(m_font);
    }
    m_font = font;
}

// Shrinks or grows the control to its text, keeping its alignment's anchor:
// a centred control stays on its centre, a right-aligned one on its right.
void HyperlinkControl::FitToText() {
    if (!m_autoSize || m_control == nullptr) {
        return;
    }
    const std::wstring text = WindowText(m_control);
    const HDC dc = ::GetDC(m_control);
    const HGDIOBJ previous = ::SelectObject(dc, m_font);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    if (text.empty()) {
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        extent.cy = metrics.tmHeight;
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(m_control, dc);

    RECT area{};
    ::GetWindowRect(m_control, &area);
    ::MapWindowPoints(nullptr, ::GetParent(m_control), reinterpret_cast<POINT*>(&area), 2);
    const LONG style = static_cast<LONG>(::GetWindowLongPtrW(m_control, GWL_STYLE));
    if ((style & SS_CENTERIMAGE) != 0) {
        const LONG shrink = (area.bottom - area.top - extent.cy) / 2;
        area.top += shrink;
        area.bottom -= shrink;
    } else {
        area.bottom = area.top + extent.cy;
    }
    const LONG alignment = style & SS_TYPEMASK;
    if (alignment == SS_CENTER) {
        const LONG shrink = (area.right - area.left - extent.cx) / 2;
        area.left += shrink;
        area.right -= shrink;
    } else if (alignment == SS_RIGHT) {
        area.left = area.right - extent.cx;
    } else {
        area.right = area.left + extent.cx;
    }
    ::SetWindowPos(m_control, nullptr, area.left, area.top, area.right - area.left,
                   area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (m_tooltip != nullptr) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = m_control;
        tool.uId = kToolId;
        ::GetClientRect(m_control, &tool.rect);
        ::SendMessageW(m_tooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    // The parent shows again what the old, larger rectangle covered.
    ::InvalidateRect(::GetParent(m_control), nullptr, TRUE);
}

void HyperlinkControl::Redraw() {
    if (m_control != nullptr) {
        ::RedrawWindow(m_control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

LRESULT CALLBACK HyperlinkControl::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    return reinterpret_cast<HyperlinkControl*>(self)->OnMessage(window, message, wParam, lParam);
}

LRESULT HyperlinkControl::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    case WM_MOUSEMOVE:
        if (!m_mouseOver) {
            m_mouseOver = true;
            TRACKMOUSEEVENT leave{};
            leave.cbSize = sizeof leave;
            leave.dwFlags = TME_LEAVE;
            leave.hwndTrack = window;
            ::TrackMouseEvent(&leave);
            Redraw();
        }
        break;
    case WM_MOUSELEAVE:
        m_mouseOver = false;
        Redraw();
        break;
    case WM_LBUTTONUP: {
        const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
        RECT client{};
        ::GetClientRect(window, &client);
        const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (::PtInRect(&client, point)) {
            Open();
        }
        return result;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        m_control = nullptr;
        m_tooltip = nullptr;  // owned by the dialog, destroyed with it
        break;
    default:
        break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace velmorin::win32
