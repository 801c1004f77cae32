// SPDX-License-Identifier: MIT
// The auto-sizing list.
#include "gui-win32/auto_sizing_list.h"

#include <commctrl.h>

namespace velmorin::win32 {
namespace {

constexpr UINT_PTR kSubclassId = 1;

}  // namespace

AutoSizingList::~AutoSizingList() {
    if (m_list != nullptr) {
        ::RemoveWindowSubclass(m_list, SubclassProc, kSubclassId);
    }
}

void AutoSizingList::Attach(HWND list) {
    m_list = list;
    ::SetWindowSubclass(list, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void AutoSizingList::FitLastColumn() {
    const HWND header = ListView_GetHeader(m_list);
    const int columns = header != nullptr ? Header_GetItemCount(header) : 0;
    if (columns > 0) {
        // With this width the list view stretches the column to its right edge.
        ListView_SetColumnWidth(m_list, columns - 1, LVSCW_AUTOSIZE_USEHEADER);
    }
}

LRESULT CALLBACK AutoSizingList::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    auto& list = *reinterpret_cast<AutoSizingList*>(self);
    switch (message) {
    case WM_SIZE: {
        const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
        // Fitted after the list view has laid itself out for the new size.
        ::PostMessageW(window, kFitLastColumn, 0, 0);
        return result;
    }
    case kFitLastColumn:
        list.FitLastColumn();
        return 1;
    case WM_NOTIFY: {
        const auto& notice = *reinterpret_cast<const NMHDR*>(lParam);
        if (notice.hwndFrom == ListView_GetHeader(window) &&
            (notice.code == HDN_ENDTRACKW || notice.code == HDN_ENDTRACKA)) {
            ::DefSubclassProc(window, message, wParam, lParam);
            // The header applies the released width after this notice: the
            // fit waits for it.
            ::PostMessageW(window, kFitLastColumn, 0, 0);
            return 1;
        }
        break;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        list.m_list = nullptr;
        break;
    default:
        break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace velmorin::win32
