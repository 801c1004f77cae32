// SPDX-License-Identifier: MIT
// Start-up.
#include "gui/application.h"

#include <QCoreApplication>

#include "session/single_instance.h"

namespace velmorin {
namespace {

// "/Register", "-regserver", "/Unregister", "-UNREGSERVER": the registration
// switches, which end the program without a window. Other switches
// ("/Embedding", "/Automation", "/p", "/pt", "/dde") and plain arguments
// change nothing.
bool IsRegistrationSwitch(const QString& argument) {
    if (!argument.startsWith(u'/') && !argument.startsWith(u'-')) {
        return false;
    }
    const QString word = argument.mid(1);
    for (const char* name : {"Register", "Regserver", "Unregister", "Unregserver"}) {
        if (word.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

StartupEnd RunStartup(const QStringList& arguments, const QString& baseName,
                      const StartupHooks& hooks) {
    // Registered, never read or written: the program keeps no settings.
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsKey));

    const SingleInstance instance(baseName.toStdString());
    if (!instance.IsFirst()) {
        hooks.showMessage(QString::fromLatin1(kTextAlreadyRunning));
        return StartupEnd::AlreadyRunning;
    }
    for (const QString& argument : arguments) {
        if (IsRegistrationSwitch(argument)) {
            return StartupEnd::Registration;
        }
    }
    hooks.runMainDialog();
    return StartupEnd::DialogClosed;
}

}  // namespace velmorin
