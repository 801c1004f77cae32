// SPDX-License-Identifier: MIT
// Start-up of the program: one running copy per program file name, the
// registration switches that end the program at once, then the main dialog,
// run modally.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin::win32 {

inline constexpr char kTextAlreadyRunning[] = "The program have run already!";

enum class StartupEnd { DialogClosed, Registration, AlreadyRunning };

struct StartupHooks {
    // A message box with the exclamation icon and the program's name as its
    // caption (UTF-8).
    std::function<void(const std::string& text)> showMessage;
    // Runs the main dialog modally.
    std::function<void()> runMainDialog;
};

// The program file's base name (UTF-8): the name of the single-instance lock
// and the caption of the program's own message boxes.
std::string ApplicationName();

// "/Register", "-regserver", "/Unregister", "-UNREGSERVER": the registration
// switches, which end the program without a window.
bool IsRegistrationSwitch(std::wstring_view argument);

// `arguments` without the program itself; `baseName` names the
// single-instance lock.
StartupEnd RunStartup(const std::vector<std::wstring>& arguments, const std::string& baseName,
                      const StartupHooks& hooks);

}  // namespace velmorin::win32
