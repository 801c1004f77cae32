// SPDX-License-Identifier: MIT
// velmorin: the operator's window. --help and --version answer without a
// display; without one, the window says that it needs one and ends with 1.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "gui/application.h"
#include "gui/main_dialog.h"
#include "online/catalogue.h"
#include "session/startup.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmorin [--help] [--version]\n"
    "The window of the Kestrion charger firmware update tool: lists the connected\n"
    "chargers, checks an update file and writes it into the selected charger.\n"
    "It needs a display (X11 or Wayland); velmorin-cli does the same from a terminal.\n";

// Qt's messages while it connects to the display are held back: when it
// cannot, they give way to one sentence that says what is missing.
std::vector<std::string>* startupMessages = nullptr;

bool HasVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

void OnStartupMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtFatalMsg) {
        if (startupMessages != nullptr) {
            startupMessages->push_back(text.toStdString());
        }
        return;
    }
    // The platform could not be started: Qt would abort next.
    const char* reason = HasVariable("DISPLAY") || HasVariable("WAYLAND_DISPLAY")
                             ? "the display could not be opened"
                             : "neither DISPLAY nor WAYLAND_DISPLAY is set";
    std::fprintf(stderr,
                 "velmorin: the window needs a display, and %s. Run it on a desktop, or use "
                 "velmorin-cli from a terminal.\n",
                 reason);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("velmorin %.*s\n", static_cast<int>(velmorin::kOwnVersion.size()),
                        velmorin::kOwnVersion.data());
            return 0;
        }
    }

    std::vector<std::string> heldMessages;
    startupMessages = &heldMessages;
    const QtMessageHandler previousHandler = qInstallMessageHandler(OnStartupMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);
    startupMessages = nullptr;
    for (const std::string& message : heldMessages) {
        std::fprintf(stderr, "%s\n", message.c_str());
    }

    const QString baseName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QApplication::setApplicationName(baseName);

    QCoreApplication::setOrganizationName(QString::fromLatin1(velmorin::kSettingsKey));

    velmorin::StartupHooks hooks;
    hooks.showMessage = [&](const std::string& text) {
        QMessageBox::warning(nullptr, baseName, QString::fromStdString(text));
    };
    hooks.runMainDialog = [] {
        velmorin::MainDialog dialog;
        dialog.exec();
    };
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        arguments.push_back(argument.toStdString());
    }
    velmorin::RunStartup(arguments, baseName.toStdString(), hooks);
    return 0;
}
