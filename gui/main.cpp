// SPDX-License-Identifier: MIT
// velmorin: the operator's window, or with --station the production line's
// station window. --help and --version answer without a display; without
// one, the window says that it needs one and ends with 1. SIGTERM, SIGINT
// and SIGHUP end it at once, its runs under way recorded as interrupted.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "gui/application.h"
#include "gui/ending_requests.h"
#include "gui/main_dialog.h"
#include "gui/message_box.h"
#include "gui/station_window.h"
#include "online/catalogue.h"
#include "session/ledger.h"
#include "session/ledger_path.h"
#include "session/startup.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmorin [--help] [--version]\n"
    "       velmorin --station [FILE]\n"
    "The window of the Kestrion charger firmware update tool: lists the connected\n"
    "chargers, checks an update file and writes it into the selected charger.\n"
    "With --station, the station window instead: upgrades every charger that arrives\n"
    "with FILE, many at once, and keeps their history.\n"
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

    // From here on a request to end the program is taken by the window's
    // thread; before, nothing could be under way.
    velmorin::EndingRequests endingRequests;

    const QString baseName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QApplication::setApplicationName(baseName);

    QCoreApplication::setOrganizationName(QString::fromLatin1(velmorin::kSettingsKey));

    // --station, with the update file after it unless another switch follows.
    const QStringList given = QCoreApplication::arguments().mid(1);
    const qsizetype stationAt = given.indexOf(QStringLiteral("--station"));
    const bool station = stationAt >= 0;
    QString stationFile;
    if (station && stationAt + 1 < given.size() && !given[stationAt + 1].startsWith(u'-')) {
        stationFile = given[stationAt + 1];
    }

    // Both windows record upgrades: a history that is no regular file (a
    // FIFO would hold the first record) is refused before any charger is
    // touched.
    if (const std::string problem = velmorin::LedgerPathProblem(velmorin::DefaultLedgerPath());
        !problem.empty()) {
        QString text = QString::fromStdString(problem);
        text[0] = text[0].toUpper();  // the box's text is a sentence of its own
        velmorin::ShowModalMessageBox(nullptr, text, baseName, velmorin::MessageIcon::Error);
        return 1;
    }

    velmorin::StartupHooks hooks;
    hooks.showMessage = [&](const std::string& text) {
        QMessageBox::warning(nullptr, baseName, QString::fromStdString(text));
    };
    // The closer stays set while the window ends (the main dialog turns its
    // event loop until a run has ended); no event is handled after that.
    hooks.runMainDialog = [station, &stationFile, &endingRequests] {
        if (station) {
            velmorin::StationWindow window(stationFile);
            endingRequests.SetRunCloser([&window] { return window.CloseRunsForExit(); });
            window.show();
            QApplication::exec();
            return;
        }
        velmorin::MainDialog dialog;
        endingRequests.SetRunCloser([&dialog] { return dialog.CloseRunsForExit(); });
        dialog.exec();
    };
    std::vector<std::string> arguments;
    for (const QString& argument : given) {
        arguments.push_back(argument.toStdString());
    }
    // The station window has a running copy of its own, beside the main
    // dialog's: one station per user, as two would both take every charger.
    const QString instanceName = station ? baseName + QStringLiteral("-station") : baseName;
    velmorin::RunStartup(arguments, instanceName.toStdString(), hooks);
    return 0;
}
