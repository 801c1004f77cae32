// SPDX-License-Identifier: MIT
// Renders the main window in four states to PNG files, for the README:
// no file chosen; a file accepted with a simulated charger listed; an
// upgrade under way; and with a 14-point font, a file accepted and the
// new-release link shown (the link grows with the font, the window with
// it). Then the station window in the middle of a run over six simulated
// chargers: done, failed, upgrading, waiting and skipped ones. Run on a
// display (scripts/screenshot uses Xvfb).
// Usage: velmorin_screenshot OUTPUT-DIRECTORY
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "device/virtual/virtual_devices.h"
#include "gui/controls/hyperlink_label.h"
#include "gui/main_dialog.h"
#include "gui/station_window.h"
#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "ui_main_dialog.h"

namespace {

using namespace velmorin;

bool Save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// Clicks `button` and types `path` into the file chooser that it opens.
void ChooseFile(QPushButton& button, const QString& path) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* name = chooser != nullptr
                         ? chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                         : nullptr;
        if (name == nullptr) {
            return;
        }
        name->setText(path);
        static_cast<QDialog*>(chooser)->accept();  // QFileDialog::accept is protected
    });
    poll.start(20);
    button.click();
}

// The station window during a run: chargers in every state, from the
// simulator, in a device directory of their own (without the main window's
// charger). The history goes to a directory of its own too.
bool SaveStation(const std::string& path, const QString& picture) {
    const testing::TempDirectory devices;
    const std::string dir = devices.Path().string();
    const testing::ScopedEnvironment virtualDevices(kVirtualDevicesVariable, dir);
    const testing::TempDirectory state;
    const testing::ScopedEnvironment stateHome("XDG_STATE_HOME", state.Path().string());
    std::vector<std::unique_ptr<testing::BackgroundProgram>> chargers;
    const auto start = [&](const std::string& kind, std::vector<std::string> args) {
        args.insert(args.begin(), {VELMORIN_SIM, kind, "--dir", dir, "--model-code", "0x2A"});
        chargers.push_back(std::make_unique<testing::BackgroundProgram>(args));
    };
    start("serial", {"--port", "COM211", "--serial-number", "KX240311"});
    start("serial", {"--port", "COM212", "--serial-number", "KX240312"});
    // Silent at first: still waiting for the charger when the others move.
    start("serial", {"--port", "COM213", "--serial-number", "KX240313", "--silent-enter", "2"});
    start("serial",
          {"--port", "COM214", "--serial-number", "KY240107", "--product", "Varno Kestrion Y"});
    start("hid", {"--name", "charger1", "--serial-number", "HX000512"});
    start("hid", {"--name", "charger2", "--serial-number", "HX000513", "--refuse-reply", "100"});
    for (const char* announced : {"COM211.json", "COM212.json", "COM213.json", "COM214.json",
                                  "charger1.json", "charger2.json"}) {
        if (!testing::WaitForFile(devices.Path() / announced)) {
            std::fprintf(stderr, "the simulated charger %s did not start\n", announced);
            return false;
        }
    }
    const std::string slotsFile = dir + "/slots.txt";
    std::ofstream(slotsFile)
        << "COM211 = Slot 1\nCOM212 = Slot 2\nCOM213 = Slot 3\nCOM214 = Slot 4\n";

    StationWindow window(QString::fromStdString(path));
    window.SetMessageBoxHandler([](const QString&, const QString&, MessageIcon) {});
    window.show();
    ChooseFile(*window.findChild<QPushButton*>(QStringLiteral("m_slotsButton")),
               QString::fromStdString(slotsFile));
    window.findChild<QLineEdit*>(QStringLiteral("m_modelEdit"))->setText("Kestrion X");
    window.findChild<QPushButton*>(QStringLiteral("m_startButton"))->click();
    // The picture is taken once a charger is done, one has failed and a
    // transfer is half-way.
    const auto* tally = window.findChild<QLabel*>(QStringLiteral("m_tallyText"));
    bool grabbed = false;
    bool ok = true;
    QElapsedTimer waited;
    waited.start();
    while (!grabbed && waited.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        bool halfWay = false;
        for (const auto* bar : window.findChildren<QProgressBar*>()) {
            halfWay = halfWay || (bar->maximum() > 1 && bar->value() > bar->maximum() * 2 / 5 &&
                                  bar->value() < bar->maximum());
        }
        if (halfWay && !tally->text().startsWith("Done 0") &&
            !tally->text().contains(QStringLiteral("failed 0"))) {
            grabbed = true;
            ok = Save(window, picture);
        }
    }
    if (!grabbed) {
        std::fprintf(stderr, "the station never showed a run half-way: %s\n",
                     qPrintable(tally->text()));
    }
    window.findChild<QPushButton*>(QStringLiteral("m_startButton"))->click();
    while (window.Running()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return grabbed && ok;
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmorin"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-DIRECTORY\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);

    const testing::TempDirectory directory;
    const std::string dir = directory.Path().string();
    const testing::ScopedEnvironment environment(kVirtualDevicesVariable, dir);
    std::vector<std::uint8_t> payload(24000);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    UpdateHeader fields;
    fields.version = "V2.13";
    fields.type = "1010B";
    fields.memo = "Faster balancing; charge curve for LiFePO4 packs";
    fields.modelCode = 0x2A;
    const auto file = SealUpdateFile(fields, payload, SealedForm::WholeFile);
    const std::string path = dir + "/kestrion-1010B-V2.13.bin";
    testing::WriteBytes(path, file);

    // Start-up to a painted window, twice: with catalogue servers that refuse
    // connections (a loopback port with no listener), and with one that
    // takes the connection and never answers. Both include the application's
    // own start, measured once. The second window is the "no file" picture.
    const qint64 applicationMs = sinceStart.elapsed();
    const auto startUp = [&](const char* serverState, const QString& picture) {
        QElapsedTimer sinceCreation;
        sinceCreation.start();
        MainDialog dialog;
        dialog.show();
        QApplication::processEvents();
        std::printf("start-up to a painted window, catalogue server %s: %lld ms\n", serverState,
                    static_cast<long long>(applicationMs + sinceCreation.elapsed()));
        return picture.isEmpty() || Save(dialog, picture);
    };
    bool ok = true;
    {
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER",
                                                testing::HttpServer::RefusingHost());
        const testing::ScopedEnvironment fallback("VELMORIN_FALLBACK_SERVER",
                                                  testing::HttpServer::RefusingHost());
        ok = startUp("refusing", QString());
    }
    // The silent server stays for the rest: the later windows check too.
    testing::HttpServer silentServer;
    silentServer.Hang(true);
    const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", silentServer.Host());
    const testing::ScopedEnvironment fallback("VELMORIN_FALLBACK_SERVER", silentServer.Host());
    ok = startUp("silent", output + "/no-file.png") && ok;

    const testing::BackgroundProgram charger(
        {VELMORIN_SIM, "serial", "--dir", dir, "--model-code", "0x2A"});
    if (!testing::WaitForFile(directory.Path() / "COM201.json")) {
        std::fprintf(stderr, "the simulated charger did not start\n");
        return 1;
    }
    MainDialog dialog;
    dialog.SetMessageBoxHandler([](const QString&, const QString&, MessageIcon) {});
    dialog.show();
    auto& ui = dialog.Controls();
    ui.m_pathEdit->setText(QString::fromStdString(path));
    ok = Save(dialog, output + "/file-accepted.png") && ok;

    bool grabbed = false;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!grabbed && !ui.m_progress->isHidden() &&
            ui.m_progress->value() > ui.m_progress->maximum() * 2 / 5) {
            grabbed = true;
            ok = Save(dialog, output + "/upgrading.png") && ok;
        }
    });
    during.start(20);
    ui.m_updateButton->click();
    // The upgrade runs on its worker; the window turns until it has ended.
    while (dialog.Logic().Upgrading()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    during.stop();

    // A desktop with a 14-point font, and a catalogue that names a newer
    // release.
    {
        testing::HttpServer releaseServer;
        releaseServer.Serve(std::string(kCatalogueAddressPath),
                            "[Software]\nVer=V2.3\nURL=http://www.varno.example/velmorin\n");
        const testing::ScopedEnvironment newer("VELMORIN_UPDATE_SERVER", releaseServer.Host());
        const QFont usual = QApplication::font();
        QFont large = usual;
        large.setPointSize(14);
        QApplication::setFont(large);
        MainDialog largeWindow;
        largeWindow.SetMessageBoxHandler([](const QString&, const QString&, MessageIcon) {});
        largeWindow.show();
        largeWindow.Controls().m_pathEdit->setText(QString::fromStdString(path));
        ok = Save(largeWindow, output + "/large-font.png") && ok;
        const QRect link = largeWindow.Controls().m_newReleaseLink->geometry();
        std::printf("14-point font: new-release link %s, from x %d to %d of a window %d wide\n",
                    largeWindow.Controls().m_newReleaseLink->isHidden() ? "hidden" : "shown",
                    link.x(), link.x() + link.width(), largeWindow.width());
        QApplication::setFont(usual);
    }

    ok = SaveStation(path, output + "/station.png") && ok;
    return ok && grabbed ? 0 : 1;
}
