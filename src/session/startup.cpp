// SPDX-License-Identifier: MIT
// Start-up of the window program.
#include "session/startup.h"

#include <algorithm>
#include <cctype>

#include "session/single_instance.h"

namespace velmorin {

bool IsRegistrationSwitch(std::string_view argument) {
    if (argument.empty() || (argument.front() != '/' && argument.front() != '-')) {
        return false;
    }
    const std::string_view word = argument.substr(1);
    const auto sameLetters = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    for (const std::string_view name : {"Register", "Regserver", "Unregister", "Unregserver"}) {
        if (word.size() == name.size() &&
            std::equal(word.begin(), word.end(), name.begin(), sameLetters)) {
            return true;
        }
    }
    return false;
}

StartupEnd RunStartup(const std::vector<std::string>& arguments, const std::string& baseName,
                      const StartupHooks& hooks) {
    const SingleInstance instance(baseName);
    if (!instance.IsFirst()) {
        hooks.showMessage(kTextAlreadyRunning);
        return StartupEnd::AlreadyRunning;
    }
    if (std::any_of(arguments.begin(), arguments.end(),
                    [](const std::string& argument) { return IsRegistrationSwitch(argument); })) {
        return StartupEnd::Registration;
    }
    hooks.runMainDialog();
    return StartupEnd::DialogClosed;
}

}  // namespace velmorin
