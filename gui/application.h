// SPDX-License-Identifier: MIT
// Start-up of the program: the settings key, the nonce generator, one
// running copy per program file name, the registration switches that end the
// program at once, then the main dialog, run modally.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace velmorin {

inline constexpr char kSettingsKey[] = "Lindqvar Varno Kestrion";
inline constexpr char kTextAlreadyRunning[] = "The program have run already!";

enum class StartupEnd { DialogClosed, Registration, AlreadyRunning };

struct StartupHooks {
    // A message box with the exclamation icon and the program's name as its
    // caption.
    std::function<void(const QString& text)> showMessage;
    // Runs the main dialog modally.
    std::function<void()> runMainDialog;
};

// `arguments` without the program itself; `baseName` is the program file's
// base name, which names the single-instance lock.
StartupEnd RunStartup(const QStringList& arguments, const QString& baseName,
                      const StartupHooks& hooks);

}  // namespace velmorin
