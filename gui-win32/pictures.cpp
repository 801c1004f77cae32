// SPDX-License-Identifier: MIT
// Loading the pictures.
#include "gui-win32/pictures.h"

#include "gui-win32/resource_ids.h"

namespace velmorin::win32 {

HICON LoadProgramIcon(IconSize size) {
    const bool smallIcon = size == IconSize::Small;
    const int width = ::GetSystemMetrics(smallIcon ? SM_CXSMICON : SM_CXICON);
    const int height = ::GetSystemMetrics(smallIcon ? SM_CYSMICON : SM_CYICON);
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(ID_PROGRAM_ICON), IMAGE_ICON, width,
                                           height, LR_DEFAULTCOLOR));
}

HICON ShowPicture(HWND control, int resource, bool fill) {
    int width = 0;
    int height = 0;
    if (fill) {
        // The picture was drawn for the control at the usual 96 DPI; at
        // another DPI the system scales it to the control.
        RECT client{};
        ::GetClientRect(control, &client);
        width = client.right - client.left;
        height = client.bottom - client.top;
    }
    const auto picture =
        static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource),
                                        IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
    if (picture != nullptr) {
        ::SendMessageW(control, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(picture));
    }
    return picture;
}

}  // namespace velmorin::win32
