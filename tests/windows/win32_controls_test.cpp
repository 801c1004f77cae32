// SPDX-License-Identifier: MIT
// The Windows window's own pieces on real windows: the hyperlink control
// (addresses that are no web pages refused before the shell sees them; a
// static text taken over: underline, link and hover colours, the size fitted
// to the text on the anchor of its alignment), the auto-sizing list (the last
// column ends at the right edge after a resize) and the posted work of
// WindowViewThread (every work, in order, on the window's thread). Needs a
// display (under Wine: Xvfb).
#include <windows.h>
// The headers below need the types of <windows.h>.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "gui-win32/auto_sizing_list.h"
#include "gui-win32/hyperlink_control.h"
#include "gui-win32/window_view_thread.h"

namespace velmorin::win32 {
namespace {

void PumpFor(DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    while (::GetTickCount64() < end) {
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(5);
    }
}

// A hidden top-level window to hold controls, destroyed with the test.
class Parent {
public:
    Parent(int width, int height) {
        m_window = ::CreateWindowExW(0, WC_STATICW, L"", WS_POPUP, 0, 0, width, height, nullptr,
                                     nullptr, nullptr, nullptr);
    }
    ~Parent() { ::DestroyWindow(m_window); }
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;
    HWND Handle() const { return m_window; }

private:
    HWND m_window;
};

LOGFONTW FontOf(HWND control) {
    LOGFONTW description{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)),
                 sizeof description, &description);
    return description;
}

RECT RectInParent(HWND control) {
    RECT area{};
    ::GetWindowRect(control, &area);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&area), 2);
    return area;
}

TEST(Win32Hyperlink, RefusesAddressesThatAreNoWebPages) {
    // Addresses come from the maker's catalogue: none of these may reach
    // the shell, which would open files or start programs.
    for (const wchar_t* address :
         {L"", L"   ", L"file:///C:/Windows/win.ini", L"C:\\Windows\\notepad.exe",
          L"\\\\server\\share\\setup.exe", L"mailto:someone@varno.example", L"javascript:alert(1)",
          L"ftp://update.varno.example/kestrion.bin", L"www.varno.example:http/x"}) {
        EXPECT_EQ(OpenWebAddress(address), 5) << std::wstring(address).size();
    }
}

TEST(Win32Hyperlink, TakesOverTheStaticTextOnItsAlignment) {
    constexpr wchar_t kText[] = L"Please download the newly released version";
    struct Row {
        DWORD alignment;
        const char* name;
    };
    for (const Row& row :
         {Row{SS_LEFT, "left"}, Row{SS_CENTER, "centre"}, Row{SS_RIGHT, "right"}}) {
        SCOPED_TRACE(row.name);
        Parent parent(600, 100);
        const HWND control =
            ::CreateWindowExW(0, WC_STATICW, kText, WS_CHILD | WS_VISIBLE | row.alignment, 100, 10,
                              400, 40, parent.Handle(), nullptr, nullptr, nullptr);
        ::SendMessageW(control, WM_SETFONT,
                       reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        HyperlinkControl link;
        link.SetUp(control, L"test");

        EXPECT_EQ(link.Url(), kText);
        EXPECT_NE(::GetWindowLongPtrW(control, GWL_STYLE) & SS_NOTIFY, 0);
        EXPECT_TRUE(FontOf(control).lfUnderline);
        EXPECT_EQ(link.CurrentColor(), RGB(0, 0, 238));

        // The control now fits its text, measured with its own font.
        const HDC dc = ::GetDC(control);
        const HGDIOBJ previous =
            ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, kText, static_cast<int>(std::wcslen(kText)), &extent);
        ::SelectObject(dc, previous);
        ::ReleaseDC(control, dc);
        const RECT area = RectInParent(control);
        // A centred control shrinks by the same whole pixels on both sides,
        // so it may keep one pixel more than the text.
        const LONG slack = row.alignment == SS_CENTER ? 1 : 0;
        EXPECT_GE(area.right - area.left, extent.cx);
        EXPECT_LE(area.right - area.left, extent.cx + slack);
        EXPECT_EQ(area.bottom - area.top, extent.cy);
        EXPECT_EQ(area.top, 10);
        // Left-aligned keeps its left edge, centred its centre, right-aligned
        // its right edge.
        if (row.alignment == SS_LEFT) {
            EXPECT_EQ(area.left, 100);
        } else if (row.alignment == SS_CENTER) {
            EXPECT_LE(std::abs((area.left + area.right) - 600), 1);
        } else {
            EXPECT_EQ(area.right, 500);
        }

        link.DisableUnderline();
        EXPECT_FALSE(FontOf(control).lfUnderline);
        ::SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        EXPECT_TRUE(link.IsMouseOver());
        EXPECT_EQ(link.CurrentColor(), ::GetSysColor(COLOR_HIGHLIGHT));
        ::SendMessageW(control, WM_MOUSELEAVE, 0, 0);
        EXPECT_FALSE(link.IsMouseOver());
        EXPECT_EQ(link.CurrentColor(), RGB(0, 0, 238));
    }
}

TEST(Win32AutoSizingList, LastColumnEndsAtTheRightEdgeAfterAResize) {
    Parent parent(800, 400);
    const HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0,
                                        0, 400, 200, parent.Handle(), nullptr, nullptr, nullptr);
    int column = 0;
    for (int width : {70, 135, 50}) {
        LVCOLUMNW description{};
        description.mask = LVCF_WIDTH;
        description.cx = width;
        ListView_InsertColumn(list, column++, &description);
    }
    AutoSizingList sizing;
    sizing.Attach(list);
    for (int width : {640, 300, 500}) {
        SCOPED_TRACE(width);
        ::SetWindowPos(list, nullptr, 0, 0, width, 200, SWP_NOZORDER | SWP_NOMOVE);
        PumpFor(100);  // the fit follows the resize as a posted message
        RECT client{};
        ::GetClientRect(list, &client);
        const int used = ListView_GetColumnWidth(list, 0) + ListView_GetColumnWidth(list, 1) +
                         ListView_GetColumnWidth(list, 2);
        EXPECT_EQ(ListView_GetColumnWidth(list, 0), 70);
        EXPECT_EQ(ListView_GetColumnWidth(list, 1), 135);
        EXPECT_EQ(used, client.right);
    }
}

// A message-only window that runs the thread's posted work.
LRESULT CALLBACK RunsPostedWork(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WindowViewThread::kRunPostedWork) {
        reinterpret_cast<WindowViewThread*>(::GetWindowLongPtrW(window, GWLP_USERDATA))
            ->RunPosted();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(Win32ViewThread, RunsEveryPostInOrderOnTheWindowThread) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = RunsPostedWork;
    windowClass.lpszClassName = L"velmorin-test-view-thread";
    ::RegisterClassW(&windowClass);
    const HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0,
                                          HWND_MESSAGE, nullptr, nullptr, nullptr);
    WindowViewThread viewThread;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&viewThread));
    viewThread.Attach(window);

    // More works than a thread's message queue takes (10,000 posted
    // messages), all posted before the window's thread looks at its queue.
    constexpr int kWorks = 30000;
    const DWORD windowThread = ::GetCurrentThreadId();
    std::vector<int> ran;
    std::atomic<int> elsewhere{0};
    std::thread worker([&] {
        for (int i = 0; i < kWorks; ++i) {
            viewThread.Post([&, i] {
                ran.push_back(i);
                if (::GetCurrentThreadId() != windowThread) {
                    ++elsewhere;
                }
            });
        }
    });
    worker.join();
    const ULONGLONG end = ::GetTickCount64() + 20000;
    while (static_cast<int>(ran.size()) < kWorks && ::GetTickCount64() < end) {
        PumpFor(10);
    }
    ::DestroyWindow(window);

    ASSERT_EQ(static_cast<int>(ran.size()), kWorks);
    for (int i = 0; i < kWorks; ++i) {
        ASSERT_EQ(ran[static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(elsewhere.load(), 0);
}

}  // namespace
}  // namespace velmorin::win32
