// SPDX-License-Identifier: MIT
// The single-instance lock on Windows: a named mutex "Local\<base name>",
// one per logon session as the Linux lock is one per user. The system
// removes the name with the last handle, so a copy that ended in any way
// leaves nothing behind.
#include "session/single_instance.h"

#include <windows.h>

namespace velmorin {

struct SingleInstance::Native {
    HANDLE mutex = nullptr;
};

namespace {

std::wstring Wide(const std::string& utf8) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          length);
    return wide;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& baseName) : m_native(std::make_unique<Native>()) {
    // A backslash would name a namespace of its own; the name is a file
    // name, so none should be there.
    std::wstring name = L"Local\\" + Wide(baseName);
    for (std::size_t i = 6; i < name.size(); ++i) {
        if (name[i] == L'\\') {
            name[i] = L'_';
        }
    }
    m_native->mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    // Another copy made the name first. A mutex that cannot be made at all
    // (the name taken by another kind of object, no rights) does not keep
    // the program from running, as on Linux.
    m_first = m_native->mutex == nullptr || ::GetLastError() != ERROR_ALREADY_EXISTS;
}

SingleInstance::~SingleInstance() {
    if (m_native->mutex != nullptr) {
        ::CloseHandle(m_native->mutex);
    }
}

}  // namespace velmorin
