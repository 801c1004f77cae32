// SPDX-License-Identifier: MIT
// Dialog control helpers.
#include "gui-win32/dialog_controls.h"

#include <algorithm>

#include "gui-win32/wide_text.h"

namespace velmorin::win32 {

void EnableControl(HWND dialog, int id, bool enabled) {
    const HWND control = ::GetDlgItem(dialog, id);
    if (!enabled && control != nullptr && ::GetFocus() == control) {
        ::SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
    }
    ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void ShowControl(HWND dialog, int id, bool visible) {
    ::ShowWindow(::GetDlgItem(dialog, id), visible ? SW_SHOWNA : SW_HIDE);
}

void SetControlText(HWND dialog, int id, std::string_view utf8) {
    ::SetDlgItemTextW(dialog, id, Widen(utf8).c_str());
}

void CentreOver(HWND window, HWND owner) {
    RECT frame{};
    ::GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(
        ::MonitorFromWindow(owner != nullptr ? owner : window, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT around = monitor.rcWork;
    if (owner != nullptr) {
        ::GetWindowRect(owner, &around);
    }
    const LONG width = frame.right - frame.left;
    const LONG height = frame.bottom - frame.top;
    const RECT& work = monitor.rcWork;
    const LONG left = std::clamp((around.left + around.right - width) / 2, work.left,
                                 std::max(work.left, work.right - width));
    const LONG top = std::clamp((around.top + around.bottom - height) / 2, work.top,
                                std::max(work.top, work.bottom - height));
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace velmorin::win32
