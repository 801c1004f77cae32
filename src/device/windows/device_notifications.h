// SPDX-License-Identifier: MIT
// The device changes that may concern a charger, as the system broadcasts
// them: arrivals and removals of HID interfaces and of COM ports. The device
// watcher's hidden window and the Windows main window both ask for them.
#pragma once

#include <windows.h>

#include <vector>

namespace velmorin::windows_devices {

// Asks the system to send `window` WM_DEVICECHANGE for those interfaces; the
// registrations made (one the system refuses is left out: node changes still
// reach top-level windows).
std::vector<HDEVNOTIFY> RegisterChargerNotifications(HWND window);

// Ends the registrations and empties the list.
void UnregisterChargerNotifications(std::vector<HDEVNOTIFY>& notifications);

}  // namespace velmorin::windows_devices
