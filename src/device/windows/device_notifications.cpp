// SPDX-License-Identifier: MIT
// The registrations for the device changes that may concern a charger.
#include "device/windows/device_notifications.h"

// After <windows.h>, whose types they need; the HID class driver's header
// declares its calls without C linkage of its own.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

namespace velmorin::windows_devices {
namespace {

// GUID_DEVINTERFACE_COMPORT: the interface of every serial port driver that
// announces COM ports (ntddser.h, whose other declarations need the driver
// kit's types).
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

}  // namespace

std::vector<HDEVNOTIFY> RegisterChargerNotifications(HWND window) {
    GUID hidInterface{};
    ::HidD_GetHidGuid(&hidInterface);
    std::vector<HDEVNOTIFY> notifications;
    for (const GUID& interfaceClass : {hidInterface, kComPortInterface}) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        if (HDEVNOTIFY notification =
                ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE)) {
            notifications.push_back(notification);
        }
    }
    return notifications;
}

void UnregisterChargerNotifications(std::vector<HDEVNOTIFY>& notifications) {
    for (HDEVNOTIFY notification : notifications) {
        ::UnregisterDeviceNotification(notification);
    }
    notifications.clear();
}

}  // namespace velmorin::windows_devices
