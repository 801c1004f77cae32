// SPDX-License-Identifier: MIT
// Start-up.
#include "gui-win32/application.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>

#include "gui-win32/wide_text.h"
#include "session/single_instance.h"

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

bool IsRegistrationSwitch(std::wstring_view argument) {
    if (argument.empty() || (argument.front() != L'/' && argument.front() != L'-')) {
        return false;
    }
    const std::wstring_view word = argument.substr(1);
    for (const std::wstring_view name :
         {L"Register", L"Regserver", L"Unregister", L"Unregserver"}) {
        if (word.size() == name.size() &&
            std::equal(word.begin(), word.end(), name.begin(),
                       [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); })) {
            return true;
        }
    }
    return false;
}

StartupEnd RunStartup(const std::vector<std::wstring>& arguments, const std::string& baseName,
                      const StartupHooks& hooks) {
    // The program keeps no settings: nothing is registered for them.
    const SingleInstance instance(baseName);
    if (!instance.IsFirst()) {
        hooks.showMessage(kTextAlreadyRunning);
        return StartupEnd::AlreadyRunning;
    }
    // Other switches ("/Embedding", "/Automation", "/p", "/pt", "/dde") and
    // plain arguments change nothing.
    if (std::any_of(arguments.begin(), arguments.end(),
                    [](const std::wstring& argument) { return IsRegistrationSwitch(argument); })) {
        return StartupEnd::Registration;
    }
    hooks.runMainDialog();
    return StartupEnd::DialogClosed;
}

}  // namespace velmorin::win32
