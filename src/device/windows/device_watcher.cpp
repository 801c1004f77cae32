// SPDX-License-Identifier: MIT
// Device changes on Windows: a thread of its own with a message-only window
// that hears of HID and COM port interfaces coming and going
// (RegisterDeviceNotificationW), and that watches the virtual device
// directory (ReadDirectoryChangesW). Either sets one manual-reset event.
//
// There is no descriptor to hand to an event loop: Fd() is -1. The program's
// own window gets WM_DEVICECHANGE broadcasts itself; the console program and
// the upgrade's message pump ask ConsumeChanges() or wait with
// WaitForChange().
#include "device/device_watcher.h"

#include <windows.h>
// The device broadcast records need the types above.
#include <dbt.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <thread>
#include <vector>

#include "device/virtual/virtual_devices.h"
#include "device/windows/device_notifications.h"

namespace velmorin {
namespace {

constexpr const wchar_t* kWindowClass = L"VelmorinDeviceWatcher";

// File name changes (created, deleted, renamed) and writes, as a description
// file is written in place or renamed into the directory.
constexpr DWORD kDirectoryChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;

}  // namespace

struct DeviceWatcher::Sources {
    HANDLE changed = nullptr;  // manual reset: set while changes are pending
    HANDLE stop = nullptr;     // ends the watching thread
    HANDLE ready = nullptr;    // set by the thread once it watches
    std::atomic<bool> pending{false};
    std::thread thread;

    // Owned by the watching thread.
    HWND window = nullptr;
    std::vector<HDEVNOTIFY> notifications;
    HANDLE directory = INVALID_HANDLE_VALUE;
    HANDLE directoryEvent = nullptr;
    OVERLAPPED directoryRead{};
    alignas(DWORD) std::array<std::byte, 16384> directoryBuffer{};

    ~Sources() {
        if (thread.joinable()) {
            ::SetEvent(stop);
            thread.join();
        }
        for (HANDLE event : {changed, stop, ready}) {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
    }

    void Signal() {
        pending.store(true);
        ::SetEvent(changed);
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE &&
            (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
            auto* sources = reinterpret_cast<Sources*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
            if (sources != nullptr && header != nullptr &&
                header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
                sources->Signal();
            }
            return TRUE;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    // A message-only window: it gets the notifications registered for it,
    // never the broadcasts meant for the program's windows.
    void WatchInterfaces() {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        // A second watcher in the process finds the class registered.
        if (::RegisterClassExW(&windowClass) == 0 &&
            ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return;
        }
        window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   instance, nullptr);
        if (window == nullptr) {
            return;
        }
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        notifications = windows_devices::RegisterChargerNotifications(window);
    }

    bool StartDirectoryRead() {
        return ::ReadDirectoryChangesW(directory, directoryBuffer.data(),
                                       static_cast<DWORD>(directoryBuffer.size()), FALSE,
                                       kDirectoryChanges, nullptr, &directoryRead, nullptr) != 0;
    }

    void WatchVirtualDirectory() {
        const auto path = VirtualDeviceDirectory();
        if (!path) {
            return;
        }
        // Made here if missing, so that devices announced later are seen.
        std::error_code error;
        std::filesystem::create_directories(*path, error);
        directory = ::CreateFileW(path->c_str(), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                  nullptr);
        if (directory == INVALID_HANDLE_VALUE) {
            return;
        }
        directoryEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        directoryRead.hEvent = directoryEvent;
        if (directoryEvent == nullptr || !StartDirectoryRead()) {
            EndDirectoryWatch();
        }
    }

    void EndDirectoryWatch() {
        if (directory != INVALID_HANDLE_VALUE) {
            DWORD ignored = 0;
            if (::CancelIoEx(directory, &directoryRead)) {
                ::GetOverlappedResult(directory, &directoryRead, &ignored, TRUE);
            }
            ::CloseHandle(directory);
            directory = INVALID_HANDLE_VALUE;
        }
        if (directoryEvent != nullptr) {
            ::CloseHandle(directoryEvent);
            directoryEvent = nullptr;
        }
    }

    // Only device description files count; sockets and temporary files come
    // and go with them. An empty result means the changes did not fit the
    // buffer: one of them may have been a description file.
    void TakeDirectoryChanges() {
        DWORD length = 0;
        if (!::GetOverlappedResult(directory, &directoryRead, &length, FALSE)) {
            EndDirectoryWatch();  // the directory itself is gone
            return;
        }
        bool described = length == 0;
        for (DWORD offset = 0; offset < length;) {
            const auto* change =
                reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(directoryBuffer.data() + offset);
            const std::wstring_view name(change->FileName,
                                         change->FileNameLength / sizeof(wchar_t));
            described = described || name.ends_with(L".json");
            if (change->NextEntryOffset == 0) {
                break;
            }
            offset += change->NextEntryOffset;
        }
        if (described) {
            Signal();
        }
        if (!StartDirectoryRead()) {
            EndDirectoryWatch();
        }
    }

    void Run() {
        WatchInterfaces();
        WatchVirtualDirectory();
        ::SetEvent(ready);
        for (;;) {
            const std::array<HANDLE, 2> handles{stop, directoryEvent};
            const DWORD count = directoryEvent != nullptr ? 2 : 1;
            const DWORD woken = ::MsgWaitForMultipleObjectsEx(count, handles.data(), INFINITE,
                                                              QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) {
                break;
            }
            if (woken == WAIT_OBJECT_0 + 1 && count == 2) {
                TakeDirectoryChanges();
                continue;
            }
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::DispatchMessageW(&message);
            }
        }
        windows_devices::UnregisterChargerNotifications(notifications);
        if (window != nullptr) {
            ::DestroyWindow(window);
        }
        EndDirectoryWatch();
    }
};

DeviceWatcher::DeviceWatcher() : m_sources(std::make_unique<Sources>()) {
    m_sources->changed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_sources->stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_sources->ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_sources->changed == nullptr || m_sources->stop == nullptr ||
        m_sources->ready == nullptr) {
        return;  // nothing can be watched; no change is ever reported
    }
    // Watching has begun when the constructor returns, so that a change
    // made right after it is seen.
    m_sources->thread = std::thread([sources = m_sources.get()] { sources->Run(); });
    ::WaitForSingleObject(m_sources->ready, INFINITE);
}

DeviceWatcher::~DeviceWatcher() = default;

int DeviceWatcher::Fd() const {
    return -1;
}

bool DeviceWatcher::ConsumeChanges() {
    if (m_sources->changed == nullptr) {
        return false;
    }
    // Reset before taking the flag: a change in between leaves both set,
    // and is reported now or by the next call, never lost.
    ::ResetEvent(m_sources->changed);
    return m_sources->pending.exchange(false);
}

bool DeviceWatcher::WaitForChange(int timeoutMs) {
    if (m_sources->changed == nullptr) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const DWORD wait = left > 0 ? static_cast<DWORD>(left) : 0;
        if (::WaitForSingleObject(m_sources->changed, wait) != WAIT_OBJECT_0) {
            return false;
        }
        if (ConsumeChanges()) {
            return true;
        }
        if (left <= 0) {
            return false;
        }
    }
}

}  // namespace velmorin
