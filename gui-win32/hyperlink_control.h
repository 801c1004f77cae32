// SPDX-License-Identifier: MIT
// A dialog's static text made a link: link, visited and hover colours, an
// optional underline, a hand cursor, the address as its tooltip, and a click
// that opens the address with the shell (else with the command that the
// system registers for web pages), reporting a failure in a message box.
// Only http and https addresses (or bare host names) are opened.
#pragma once

#include <windows.h>

#include <string>

#include "session/hyperlink_texts.h"

namespace velmorin::win32 {

class HyperlinkControl {
public:
    HyperlinkControl();
    ~HyperlinkControl();
    HyperlinkControl(const HyperlinkControl&) = delete;
    HyperlinkControl& operator=(const HyperlinkControl&) = delete;

    // Takes over the static text `control` as the dialog made it: clicks
    // reported, the address from the text or the text from the address, the
    // font's underline, the size fitted to the text, the hand cursor and the
    // tooltip. `caption` captions the failure's message box.
    void SetUp(HWND control, std::wstring caption);
    // Before SetUp these only store the value; SetUp applies it.
    void SetUrl(std::wstring url);
    void DisableUnderline();

    HWND Handle() const { return m_control; }
    const std::wstring& Url() const { return m_url; }
    bool IsVisited() const { return m_visited; }
    bool IsMouseOver() const { return m_mouseOver; }
    COLORREF CurrentColor() const;

    // The parent's answer to WM_CTLCOLORSTATIC for this control.
    HBRUSH OnControlColor(HDC dc) const;
    // Opens the address; false after the failure has been reported.
    bool Open();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void FitToText();
    void ApplyFont();
    void Redraw();

    COLORREF m_linkColor = RGB(0, 0, 238);
    COLORREF m_visitedColor = RGB(85, 26, 139);
    COLORREF m_hoverColor;
    bool m_mouseOver = false;
    bool m_visited = false;
    bool m_underline = true;
    bool m_autoSize = true;
    std::wstring m_url;
    std::wstring m_caption;
    HWND m_control = nullptr;
    HWND m_tooltip = nullptr;
    HFONT m_font = nullptr;
};

// Opens a web address: the shell's verb "open", else the command registered
// for ".htm" pages. Returns kHyperlinkOpened, or a failure code; addresses
// other than http and https are refused with 5 (access denied).
int OpenWebAddress(const std::wstring& url);

}  // namespace velmorin::win32
