// SPDX-License-Identifier: MIT
// Start-up of the window program, whatever draws it: one running copy per
// program file name, the registration switches that end the program at
// once, then the main dialog, run modally.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmorin {

inline constexpr char kTextAlreadyRunning[] = "The program have run already!";

enum class StartupEnd { DialogClosed, Registration, AlreadyRunning };

struct StartupHooks {
    // A message box with the exclamation icon and the program's name as its
    // caption (UTF-8).
    std::function<void(const std::string& text)> showMessage;
    // Runs the main dialog modally.
    std::function<void()> runMainDialog;
};

// "/Register", "-regserver", "/Unregister", "-UNREGSERVER": the registration
// switches, which end the program without a window. Other switches
// ("/Embedding", "/Automation", "/p", "/pt", "/dde") and plain arguments
// change nothing.
bool IsRegistrationSwitch(std::string_view argument);

// `arguments` without the program itself; `baseName` is the program file's
// base name, which names the single-instance lock.
StartupEnd RunStartup(const std::vector<std::string>& arguments, const std::string& baseName,
                      const StartupHooks& hooks);

}  // namespace velmorin
