// SPDX-License-Identifier: MIT
// A report-style list view whose last column always fills the width that the
// other columns leave free: refitted after the control is resized (once the
// resize has been handled) and after a column divider is released.
#pragma once

#include <windows.h>

namespace velmorin::win32 {

class AutoSizingList {
public:
    // Sent to the list itself: fit the last column now.
    static constexpr UINT kFitLastColumn = WM_APP + 1;

    AutoSizingList() = default;
    ~AutoSizingList();
    AutoSizingList(const AutoSizingList&) = delete;
    AutoSizingList& operator=(const AutoSizingList&) = delete;

    // Takes over the list view `list`.
    void Attach(HWND list);
    HWND Handle() const { return m_list; }
    void FitLastColumn();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);

    HWND m_list = nullptr;
};

}  // namespace velmorin::win32
