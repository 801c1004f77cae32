// SPDX-License-Identifier: MIT
// Small helpers for the dialogs' controls.
#pragma once

#include <windows.h>

#include <string_view>

namespace velmorin::win32 {

// Enables or disables a dialog's control; a control that loses its enabled
// state while it has the focus first hands the focus to the next control, so
// that the keyboard keeps working.
void EnableControl(HWND dialog, int id, bool enabled);
// Shows or hides a dialog's control without activating anything.
void ShowControl(HWND dialog, int id, bool visible);
// Sets a control's text from UTF-8.
void SetControlText(HWND dialog, int id, std::string_view utf8);
// Centres `window` over `owner` (or the screen's work area without one),
// kept on the owner's monitor.
void CentreOver(HWND window, HWND owner);

}  // namespace velmorin::win32
