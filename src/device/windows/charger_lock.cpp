// SPDX-License-Identifier: MIT
// Charger locks on Windows: a named semaphore of one count per charger in
// the session's namespace, open to every user (a run as administrator and
// one as an operator must see each other), beside a small named shared
// record of the holder's process ID. A semaphore and not a mutex: a mutex
// belongs to the thread that takes it, which would be let in again, and a
// run may end on another thread than it began. The system drops the
// semaphore when its last handle closes, so a holder that ends, however it
// ends, frees the charger.
#include "device/charger_lock.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/node_holders.h"
#include "device/windows/wide_text.h"

namespace velmorin {

// The semaphore (null for a run that goes on unguarded) and the record of
// the holder's process ID.
struct ChargerLock::Native {
    HANDLE semaphore = nullptr;
    HANDLE holderRecord = nullptr;
    void* holderView = nullptr;
};

ChargerLock::ChargerLock(std::unique_ptr<Native> native) : m_native(std::move(native)) {}
namespace {

// Every user may open the lock's objects, as every user may open the lock
// file on Linux.
class OpenToEveryone {
public:
    OpenToEveryone() {
        ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, nullptr, FALSE);
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = &m_descriptor;
        m_attributes.bInheritHandle = FALSE;
    }
    SECURITY_ATTRIBUTES* Attributes() { return &m_attributes; }

private:
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
};

std::string HolderRecordName(const std::string& lockName) {
    return lockName + "-holder";
}

std::string HolderOf(const std::string& lockName) {
    const HANDLE record = ::OpenFileMappingW(
        FILE_MAP_READ, FALSE, windows_text::Wide(HolderRecordName(lockName)).c_str());
    if (record == nullptr) {
        return "another process";
    }
    DWORD pid = 0;
    if (const void* view = ::MapViewOfFile(record, FILE_MAP_READ, 0, 0, sizeof pid)) {
        std::memcpy(&pid, view, sizeof pid);
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(record);
    if (pid == 0) {
        return "another process";  // its holder has not written it yet
    }
    const std::string command = ProcessCommand(std::to_string(pid));
    return "process " + std::to_string(pid) + (command.empty() ? "" : " (" + command + ")");
}

}  // namespace

std::unique_ptr<ChargerLock> ChargerLock::Acquire(std::string_view identity, std::string& holder,
                                                  std::string& lockPath) {
    lockPath = "Local\\" + ChargerLockName(identity);
    OpenToEveryone access;
    auto native = std::make_unique<Native>();
    native->semaphore =
        ::CreateSemaphoreW(access.Attributes(), 1, 1, windows_text::Wide(lockPath).c_str());
    if (native->semaphore == nullptr) {
        // An object of that name that this user may not open (or of another
        // kind): held or not, it cannot be checked, so the run goes on
        // unguarded rather than never.
        return std::unique_ptr<ChargerLock>(new ChargerLock(std::move(native)));
    }
    if (::WaitForSingleObject(native->semaphore, 0) != WAIT_OBJECT_0) {
        holder = HolderOf(lockPath);
        ::CloseHandle(native->semaphore);
        return nullptr;
    }
    const DWORD pid = ::GetCurrentProcessId();
    native->holderRecord =
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, access.Attributes(), PAGE_READWRITE, 0,
                             sizeof pid, windows_text::Wide(HolderRecordName(lockPath)).c_str());
    if (native->holderRecord != nullptr) {
        native->holderView =
            ::MapViewOfFile(native->holderRecord, FILE_MAP_WRITE, 0, 0, sizeof pid);
        if (native->holderView != nullptr) {
            std::memcpy(native->holderView, &pid, sizeof pid);
        }
    }
    return std::unique_ptr<ChargerLock>(new ChargerLock(std::move(native)));
}

ChargerLock::~ChargerLock() {
    if (m_native->holderView != nullptr) {
        const DWORD nobody = 0;
        std::memcpy(m_native->holderView, &nobody, sizeof nobody);
        ::UnmapViewOfFile(m_native->holderView);
    }
    if (m_native->holderRecord != nullptr) {
        ::CloseHandle(m_native->holderRecord);
    }
    if (m_native->semaphore != nullptr) {
        ::ReleaseSemaphore(m_native->semaphore, 1, nullptr);
        ::CloseHandle(m_native->semaphore);
    }
}

}  // namespace velmorin
