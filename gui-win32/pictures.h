// SPDX-License-Identifier: MIT
// The program's pictures, made from gui/pictures/*.svg when it is built and
// carried as icon resources: shown in the dialogs' picture controls and as
// the windows' icons.
#pragma once

#include <windows.h>

namespace velmorin::win32 {

enum class IconSize { Large, Small };

// The program icon at the system's large or small icon size; the caller
// destroys it.
HICON LoadProgramIcon(IconSize size);

// Puts picture `resource` into the picture control `control`: stretched to
// fill its client area, or at its own size in the middle. The control owns
// nothing: the returned icon is the caller's to destroy after the control.
HICON ShowPicture(HWND control, int resource, bool fill);

}  // namespace velmorin::win32
