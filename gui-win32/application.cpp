// SPDX-License-Identifier: MIT
// The program's name.
#include "gui-win32/application.h"

#include <windows.h>

#include <filesystem>

#include "gui-win32/wide_text.h"

namespace velmorin::win32 {

std::string ApplicationName() {
    std::wstring file(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, file.data(), static_cast<DWORD>(file.size()));
        if (length == 0) {
            return "velmorin";
        }
        if (length < file.size()) {
            file.resize(length);
            break;
        }
        file.resize(file.size() * 2);
    }
    return Narrow(std::filesystem::path(file).stem().wstring());
}

}  // namespace velmorin::win32
