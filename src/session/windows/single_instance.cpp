// SPDX-License-Identifier: MIT
// The single-instance lock on Windows: a named mutex "Local\<base name>",
// one per logon session as the Linux lock is one per user. The system
// removes the name with the last handle, so a copy that ended in any way
// leaves nothing behind.
#include "session/single_instance.h"

#include <windows.h>

#include "device/windows/wide_text.h"

namespace velmorin {

struct SingleInstance::Native {
    HANDLE mutex = nullptr;
};

namespace {}  // namespace

SingleInstance::SingleInstance(const std::string& baseName) : m_native(std::make_unique<Native>()) {
    // A backslash would name a namespace of its own; the name is a file
    // name, so none should be there.
    std::wstring name = L"Local\\" + windows_text::Wide(baseName);
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
