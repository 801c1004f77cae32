// SPDX-License-Identifier: MIT
// The main dialog on the offscreen platform: its states after
// initialisation, the file check, the device list following device changes
// (only the table during an upgrade), an upgrade from the Update button
// against a simulated charger (the window held meanwhile), the download
// flow with its choosers and boxes, texts from files and the network shown
// as they stand, a large font, the single-instance start-up, the program
// without a display, and the hyperlink's failure texts.
#include "gui/main_dialog.h"

#include <signal.h>
#include <sys/wait.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <fstream>

#include "device/virtual/virtual_devices.h"
#include "gui/controls/hyperlink_label.h"
#include "gui/dialog_units.h"
#include "gui/download_dialog.h"
#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "session/device_list.h"
#include "session/device_table.h"
#include "session/ledger.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "ui_download_dialog.h"
#include "ui_main_dialog.h"

namespace velmorin {
namespace {

// What a text looks like on the screen in `format`, by Qt's own rule for
// labels and tooltips: markup is rendered, so its tags and entities vanish.
QString ShownText(const QString& text, Qt::TextFormat format) {
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text))) {
        return text;
    }
    QTextDocument document;
    if (format == Qt::MarkdownText) {
        document.setMarkdown(text);
    } else {
        document.setHtml(text);
    }
    return document.toPlainText();
}

QString ShownText(const QLabel& label) {
    return ShownText(label.text(), label.textFormat());
}

// Runs `action`; every message box or file chooser that it opens is handed
// to `inspect` and then closed (a box with OK, a chooser cancelled).
void InspectModals(const std::function<void()>& action,
                   const std::function<void(QDialog& modal)>& inspect) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            inspect(*box);
            box->button(QMessageBox::Ok)->click();
        } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            inspect(*chooser);
            chooser->reject();
        }
    });
    poll.start(10);
    action();
    poll.stop();
}

// Works in `directory` until the end of the scope, also when a check ends
// the test half-way.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& directory)
        : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(directory);
    }
    ~ScopedCurrentDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(m_previous, ignored);
    }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::filesystem::path m_previous;
};

// True when process `program` runs `executable` (it is past its exec) and
// has a handler of its own for `signal` (/proc's SigCgt mask).
bool Catches(pid_t program, const std::filesystem::path& executable, int signal) {
    const std::string proc = "/proc/" + std::to_string(program);
    std::error_code error;
    if (!std::filesystem::equivalent(std::filesystem::read_symlink(proc + "/exe", error),
                                     executable, error)) {
        return false;
    }
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
            return (caught >> (signal - 1) & 1U) != 0;
        }
    }
    return false;
}

// The text a message box shows (its caption apart).
QString BoxText(const QMessageBox& box) {
    return ShownText(box.text(), box.textFormat());
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private:
    // The file choosers keep their last directory in the user's settings:
    // here in a directory of this run's own.
    testing::TempDirectory m_settingsDirectory;
    testing::ScopedEnvironment m_settings{"XDG_CONFIG_HOME", m_settingsDirectory.Path().string()};
    std::unique_ptr<testing::TempDirectory> m_directory;
    std::unique_ptr<testing::ScopedEnvironment> m_environment;
    // No catalogue server: the release check fails at once.
    testing::ScopedEnvironment m_updateServer{"VELMORIN_UPDATE_SERVER",
                                              testing::HttpServer::RefusingHost()};
    testing::ScopedEnvironment m_fallbackServer{"VELMORIN_FALLBACK_SERVER",
                                                testing::HttpServer::RefusingHost()};

    QString Dir() const { return QString::fromStdString(m_directory->Path().string()); }

    static std::vector<std::uint8_t> Sealed(std::size_t length, const char* version = "V1.02",
                                            const char* type = "1010B",
                                            const char* memo = "Balancer update") {
        std::vector<std::uint8_t> payload(length, 0x5A);
        UpdateHeader fields;
        fields.version = version;
        fields.type = type;
        fields.memo = memo;
        fields.modelCode = 0x2A;
        return SealUpdateFile(fields, payload, SealedForm::WholeFile);
    }

    QString Seal(std::size_t length, const char* name = "update.bin") {
        const auto path = m_directory->Path() / name;
        testing::WriteBytes(path, Sealed(length));
        return QString::fromStdString(path.string());
    }

    static std::string Body(const std::vector<std::uint8_t>& bytes) {
        return {bytes.begin(), bytes.end()};
    }

    // Has the download dialog opened from `window` select `row` and download
    // it; its boxes go to `boxes`. A download that fails leaves the dialog
    // open: it is then left with Exit.
    static void DownloadThroughWindow(MainDialog& window, int row, QStringList& boxes) {
        window.SetBeforeDownloadDialog([&boxes, row](DownloadDialog& opened) {
            opened.SetMessageBoxHandler([&boxes](const QString& text) { boxes << text; });
            QTimer::singleShot(0, &opened, [&opened, row] {
                auto& list = *opened.Controls().m_updateList;
                list.setCurrentItem(list.topLevelItem(row));
                opened.Controls().m_downloadButton->click();
                if (opened.isVisible()) {
                    opened.Controls().m_exitButton->click();
                }
            });
        });
        window.Controls().m_downloadButton->click();
    }

    // Waits (pumping events) until `done` holds.
    static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }

private slots:
    void init() {
        m_directory = std::make_unique<testing::TempDirectory>();
        m_environment = std::make_unique<testing::ScopedEnvironment>(kVirtualDevicesVariable,
                                                                     m_directory->Path().string());
    }

    void cleanup() {
        m_environment.reset();
        m_directory.reset();
    }

    void initialStates() {
        MainDialog dialog;
        auto& ui = dialog.Controls();
        QVERIFY(!ui.m_updateButton->isEnabled());
        QVERIFY(ui.m_exitButton->isEnabled());
        QVERIFY(!ui.m_includeComCheck->isChecked());
        QVERIFY(ui.m_progress->isHidden());
        QVERIFY(ui.m_statusLabel->isHidden());
        QVERIFY(ui.m_versionLabel->isHidden());
        QVERIFY(ui.m_typeLabel->isHidden());
        QVERIFY(ui.m_memoLabel->isHidden());
        QCOMPARE(ui.m_versionText->text(), QString());
        QCOMPARE(ui.m_typeText->text(), QString());
        QCOMPARE(ui.m_fileMessage->text(), QStringLiteral("The format of the file is error!"));
        QVERIFY(ui.m_fileMessage->isHidden());
        QVERIFY(ui.m_serialNumberCheck->isHidden());
        QVERIFY(ui.m_serialNumberEdit->isHidden());
        QVERIFY(ui.m_setSerialNumberButton->isHidden());
        QVERIFY(ui.m_newReleaseLink->isHidden());
        QCOMPARE(ui.m_deviceList->count(), 1);
        QCOMPARE(ui.m_deviceList->item(0)->text(), QStringLiteral("Device not found!"));
        QCOMPARE(ui.m_deviceList->currentRow(), 0);
        QCOMPARE(ui.m_updateButton->text(), QStringLiteral("&Update..."));
        // Laid out in dialog units: the Exit button sits right of Update.
        QVERIFY(ui.m_exitButton->x() > ui.m_updateButton->x() + ui.m_updateButton->width());
    }

    void fileCheckAndDevices() {
        MainDialog dialog;
        auto& ui = dialog.Controls();
        // An accepted file without a device: the labels show, Update stays off.
        ui.m_pathEdit->setText(Seal(64));
        QCOMPARE(ui.m_versionText->text(), QStringLiteral("V1.02"));
        QCOMPARE(ui.m_memoText->text(), QStringLiteral("Balancer update"));
        QVERIFY(!ui.m_versionLabel->isHidden());
        QVERIFY(!ui.m_updateButton->isEnabled());

        // A charger comes: the device change rebuilds the list; Update goes on.
        testing::PtyPeer charger(m_directory->Path(), 201);
        QVERIFY(WaitFor([&] { return ui.m_deviceList->item(0)->text().startsWith("Type:"); }));
        QCOMPARE(ui.m_deviceList->item(0)->text(), QStringLiteral("Type: Varno Test, S/N:TCOM201"));
        QVERIFY(ui.m_updateButton->isEnabled());

        // A rejected file hides the labels, shows its reason, disables Update.
        std::ofstream(m_directory->Path() / "bad.bin") << std::string(600, 'x');
        ui.m_pathEdit->setText(Dir() + "/bad.bin");
        QVERIFY(ui.m_versionLabel->isHidden());
        QCOMPARE(ui.m_fileMessage->text(), QStringLiteral("File format error!"));
        QVERIFY(!ui.m_fileMessage->isHidden());
        QVERIFY(!ui.m_updateButton->isEnabled());
    }

    void upgradeFromTheUpdateButton() {
        testing::BackgroundProgram charger(
            {VELMORIN_SIM, "serial", "--dir", m_directory->Path().string(), "--model-code", "0x2A",
             "--save", m_directory->Path().string() + "/received.bin"});
        QVERIFY(testing::WaitForFile(m_directory->Path() / "COM201.json"));
        MainDialog dialog;
        auto& ui = dialog.Controls();
        QStringList boxes;
        dialog.SetMessageBoxHandler([&](const QString& text, const QString& caption, MessageIcon) {
            boxes << caption + ": " + text;
        });
        ui.m_pathEdit->setText(Seal(4096));
        QVERIFY(ui.m_updateButton->isEnabled());
        dialog.show();
        // A control that was off before the run is still off after it.
        ui.m_downloadButton->setEnabled(false);
        QWidget* const held[] = {ui.m_exitButton, ui.m_openButton,      ui.m_downloadButton,
                                 ui.m_pathEdit,   ui.m_includeComCheck, ui.m_newReleaseLink};
        std::vector<bool> enabledBefore;
        for (QWidget* control : held) {
            enabledBefore.push_back(control->isEnabled());
        }
        // Each way of closing the window, tried while the upgrade runs.
        const std::pair<QString, std::function<void()>> closings[] = {
            {"Exit", [&] { QTest::mouseClick(ui.m_exitButton, Qt::LeftButton); }},
            {"Escape", [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }},
            {"close box, Alt+F4", [&] { dialog.windowHandle()->close(); }},
        };

        // Watch the window while the upgrade pumps its events.
        QStringList statuses;
        int highestProgress = -1;
        bool listDisabled = false;
        bool triedDuringRun = false;
        QStringList enabledDuringRun;
        QStringList closedDuringRun;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            if (!ui.m_statusLabel->isHidden() &&
                (statuses.isEmpty() || statuses.back() != ui.m_statusLabel->text())) {
                statuses << ui.m_statusLabel->text();
            }
            if (!ui.m_progress->isHidden()) {
                highestProgress = std::max(highestProgress, ui.m_progress->value());
            }
            listDisabled = listDisabled || !ui.m_deviceList->isEnabled();
            if (!triedDuringRun && !ui.m_progress->isHidden()) {
                triedDuringRun = true;
                for (QWidget* control : held) {
                    if (control->isEnabled()) {
                        enabledDuringRun << control->objectName();
                    }
                }
                for (const auto& [way, close] : closings) {
                    close();
                    if (!dialog.isVisible()) {
                        closedDuringRun << way;
                        dialog.show();
                    }
                }
            }
        });
        watcher.start(5);
        QTest::mouseClick(ui.m_updateButton, Qt::LeftButton);
        QVERIFY(WaitFor([&] { return !dialog.Logic().Upgrading(); }));
        watcher.stop();

        QVERIFY(triedDuringRun);
        QVERIFY2(closedDuringRun.isEmpty(), qPrintable(closedDuringRun.join(u',')));
        QVERIFY2(enabledDuringRun.isEmpty(), qPrintable(enabledDuringRun.join(u' ')));
        for (std::size_t i = 0; i < std::size(held); ++i) {
            QVERIFY2(held[i]->isEnabled() == enabledBefore[i], qPrintable(held[i]->objectName()));
        }

        QCOMPARE(boxes, QStringList{QStringLiteral("Success: Upgrade completion!")});
        QVERIFY(statuses.contains(QStringLiteral("Upgrading ...")));
        QVERIFY2(highestProgress > 100, qPrintable(QString::number(highestProgress)));
        QVERIFY(listDisabled);
        QVERIFY(ui.m_progress->isHidden());
        QVERIFY(ui.m_deviceList->isEnabled());
        QCOMPARE(ui.m_deviceList->currentRow(), 0);
        QVERIFY(ui.m_updateButton->isEnabled());
        // The run is over: the window closes again.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
    }

    // The run is on record when its transfer ends, before the result box:
    // while the box is held open, the history already has its completed
    // line, whose elapsed time leaves out the time the box stays up.
    void runRecordedBeforeTheResultBox() {
        const testing::ScopedEnvironment stateHome("XDG_STATE_HOME", m_directory->Path().string());
        const std::filesystem::path history = DefaultLedgerPath();
        testing::BackgroundProgram charger({VELMORIN_SIM, "serial", "--dir",
                                            m_directory->Path().string(), "--model-code", "0x2A"});
        QVERIFY(testing::WaitForFile(m_directory->Path() / "COM201.json"));
        MainDialog dialog;
        auto& ui = dialog.Controls();
        ui.m_pathEdit->setText(Seal(4096));
        dialog.show();

        using Clock = std::chrono::steady_clock;
        Clock::time_point clicked;
        std::int64_t untilBoxMs = -1;  // the run's own time, as this test sees it
        LedgerContents whileBoxIsUp;
        QStringList boxes;
        dialog.SetMessageBoxHandler([&](const QString& text, const QString& caption, MessageIcon) {
            untilBoxMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - clicked)
                    .count();
            whileBoxIsUp = ReadLedger(history);
            boxes << caption + ": " + text;
            // The operator reads the box for a while.
            QTest::qWait(static_cast<int>(untilBoxMs) + 1500);
        });
        clicked = Clock::now();
        QTest::mouseClick(ui.m_updateButton, Qt::LeftButton);
        QVERIFY(WaitFor([&] { return !dialog.Logic().Upgrading(); }));

        QCOMPARE(boxes, QStringList{QStringLiteral("Success: Upgrade completion!")});
        QCOMPARE(whileBoxIsUp.entries.size(), std::size_t{1});
        const LedgerEntry& entry = whileBoxIsUp.entries[0];
        QVERIFY(entry.outcome == LedgerOutcome::Completed);
        QCOMPARE(entry.message, std::string("Upgrade completion!"));
        QVERIFY2(static_cast<std::int64_t>(entry.elapsedMs) <= untilBoxMs,
                 qPrintable(QStringLiteral("%1 ms on record, %2 ms until the box")
                                .arg(entry.elapsedMs)
                                .arg(untilBoxMs)));
        // Nothing more was written for it once the box was closed.
        const LedgerContents after = ReadLedger(history);
        QCOMPARE(after.entries.size(), std::size_t{1});
        QVERIFY(after.entries[0] == entry);
        const std::string lines = testing::ReadText(history);
        QCOMPARE(std::count(lines.begin(), lines.end(), '\n'), std::ptrdiff_t{2});
    }

    // The upgrade runs on a worker: while the charger leaves the enter
    // command unanswered for its full 2 s, the window's timers still fire and
    // its labels still repaint.
    void windowStaysResponsiveWhileTheChargerIsSilent() {
        testing::BackgroundProgram charger({VELMORIN_SIM, "serial", "--dir",
                                            m_directory->Path().string(), "--silent-enter", "1",
                                            "--model-code", "0x2A"});
        QVERIFY(testing::WaitForFile(m_directory->Path() / "COM201.json"));
        MainDialog dialog;
        auto& ui = dialog.Controls();
        QStringList boxes;
        dialog.SetMessageBoxHandler([&](const QString& text, const QString& caption, MessageIcon) {
            boxes << caption + ": " + text;
        });
        ui.m_pathEdit->setText(Seal(1024));
        dialog.show();

        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject* watched, QEvent* event) override {
                paints += event->type() == QEvent::Paint ? 1 : 0;
                return QObject::eventFilter(watched, event);
            }
        } counter;
        ui.m_statusLabel->installEventFilter(&counter);

        // Ticks and paints between the first "Connecting..." and the
        // progress bar, the stretch that holds the silent 2 s.
        using Clock = std::chrono::steady_clock;
        Clock::time_point lastTick{};
        Clock::duration longestGap{};
        int ticksWhileConnecting = 0;
        int paintsBefore = -1;
        int paintsWhileConnecting = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            const bool connecting = !ui.m_statusLabel->isHidden() &&
                                    ui.m_statusLabel->text().startsWith("Connecting") &&
                                    ui.m_progress->isHidden();
            if (!connecting) {
                return;
            }
            const Clock::time_point now = Clock::now();
            if (ticksWhileConnecting++ > 0) {
                longestGap = std::max(longestGap, now - lastTick);
            } else {
                paintsBefore = counter.paints;
            }
            lastTick = now;
            paintsWhileConnecting = counter.paints - paintsBefore;
            ui.m_statusLabel->update();
        });
        ticker.start(20);
        QTest::mouseClick(ui.m_updateButton, Qt::LeftButton);
        QVERIFY(WaitFor([&] { return !dialog.Logic().Upgrading(); }));
        ticker.stop();

        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.front().startsWith("Success: "), qPrintable(boxes.front()));
        // The silent enter command alone holds the run 2 s; a window that
        // waited with it would show one gap of that length.
        QVERIFY2(ticksWhileConnecting > 20, qPrintable(QString::number(ticksWhileConnecting)));
        const auto gapMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count();
        QVERIFY2(gapMs < 1000, qPrintable(QString::number(gapMs)));
        QVERIFY2(paintsWhileConnecting > 0, qPrintable(QString::number(paintsWhileConnecting)));
    }

    void newReleaseLink() {
        testing::HttpServer server;
        server.Serve(std::string(kCatalogueAddressPath),
                     "[Software]\nVer=V2.3\nURL=http://get.example/velmorin\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const ScopedCurrentDirectory workHere(m_directory->Path());
        {
            MainDialog dialog;
            auto& link = *dialog.Controls().m_newReleaseLink;
            QVERIFY(!link.isHidden());
            QCOMPARE(link.Url(), QStringLiteral("http://get.example/velmorin"));
            QVERIFY(!link.font().underline());
            QCOMPARE(link.text(), QStringLiteral("Please download the newly released version"));
        }
        server.Serve(std::string(kCatalogueAddressPath), "[Software]\nVer=V2.2\n");
        {
            MainDialog dialog;
            QVERIFY(dialog.Controls().m_newReleaseLink->isHidden());
        }
    }

    void downloadDialog() {
        testing::HttpServer server;
        const std::string base = "http://" + server.Host();
        Seal(64, "served.bin");
        std::ifstream sealed(m_directory->Path() / "served.bin", std::ios::binary);
        server.Serve("/files/abc.bin", std::string((std::istreambuf_iterator<char>(sealed)), {}));
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=3\nType0=1010B\nFileName0=abc\nURL0=" + base +
                         "/files/abc.bin\nRelease0=Notes for abc\nReleaseURL0=http://r/abc\n"
                         "FileName1=\nURL1=file:///etc/hostname\nRelease1=R1\n"
                         "FileName2=../up/def\nRelease2=Notes for def\nReleaseURL2=http://r/def\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const testing::ScopedEnvironment site("VELMORIN_WEB_SITE", std::string("www.test.example"));
        const ScopedCurrentDirectory workHere(m_directory->Path());

        CatalogueFetchResult fetch = FetchCatalogue(nullptr);
        QVERIFY(fetch.fetched);
        QString delivered;
        DownloadDialog dialog(
            nullptr, LoadCatalogue(fetch.catalogue),
            [&](const std::string& path) { delivered = QString::fromStdString(path); });
        auto& ui = dialog.Controls();
        auto& link = *ui.m_releaseNotesLink;
        // Row 0 on opening; its caption, and the default notes address.
        QCOMPARE(ui.m_updateList->currentIndex().row(), 0);
        QCOMPARE(ui.m_saveAsEdit->text(), QStringLiteral("abc.bin"));
        QCOMPARE(link.text(), QStringLiteral("Notes for abc"));
        QCOMPARE(link.Url(),
                 QStringLiteral("http://www.test.example/UploadFiles/ReleaseNotes-Kestrion.txt"));
        QVERIFY(!std::filesystem::exists(kTemporaryCatalogue));
        // Row 1 has no file name; row 2's is made a plain name; back to row 0.
        ui.m_updateList->setCurrentItem(ui.m_updateList->topLevelItem(1));
        QCOMPARE(ui.m_saveAsEdit->text(), QString());
        ui.m_updateList->setCurrentItem(ui.m_updateList->topLevelItem(2));
        QCOMPARE(ui.m_saveAsEdit->text(), QStringLiteral("def.bin"));
        ui.m_updateList->setCurrentItem(ui.m_updateList->topLevelItem(0));
        QCOMPARE(link.Url(), QStringLiteral("http://r/abc"));

        // The last column reaches the right edge, also after a resize.
        dialog.show();
        auto& list = *ui.m_updateList;
        for (const int width : {list.width(), list.width() + 700}) {
            list.resize(width, list.height());
            QCoreApplication::processEvents();
            QHeaderView& header = *list.header();
            QCOMPARE(header.sectionViewportPosition(5) + header.sectionSize(5),
                     std::max(list.viewport()->width(), header.length()));
        }

        // "..." proposes the name the "Save as" box takes: a plain name, no
        // directories; cancelling keeps the box.
        const std::pair<int, QString> proposals[] = {{0, "abc.bin"}, {1, ""}, {2, "def.bin"}};
        for (const auto& [row, name] : proposals) {
            ui.m_updateList->setCurrentItem(ui.m_updateList->topLevelItem(row));
            QString proposed = QStringLiteral("(none)");
            dialog.SetSaveChooser([&](const QString& offered) -> std::optional<QString> {
                proposed = offered;
                return std::nullopt;
            });
            ui.m_browseButton->click();
            QCOMPARE(proposed, name);
            QCOMPARE(ui.m_saveAsEdit->text(), name);
        }
        ui.m_updateList->setCurrentItem(ui.m_updateList->topLevelItem(0));

        // A refused address: the failure box, the dialog stays open and idle.
        QStringList boxes;
        dialog.SetMessageBoxHandler([&](const QString& text) { boxes << text; });
        ui.m_updateList->setCurrentItem(ui.m_updateList->topLevelItem(1));
        ui.m_saveAsEdit->setText(QStringLiteral("x.bin"));
        ui.m_downloadButton->click();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith("Download failed.\n\nError = 0x800C0001\n\n"));
        QVERIFY(ui.m_downloadButton->isEnabled());
        QVERIFY(ui.m_statusLabel->isHidden());
        QVERIFY(delivered.isEmpty());
        QCOMPARE(dialog.result(), 0);

        // Through the main window: the download fills its path, which is checked.
        MainDialog window;
        window.SetBeforeDownloadDialog([&](DownloadDialog& opened) {
            QTimer::singleShot(0, &opened,
                               [&opened] { opened.Controls().m_downloadButton->click(); });
        });
        window.Controls().m_downloadButton->click();
        QCOMPARE(window.Controls().m_pathEdit->text(), QStringLiteral("abc.bin"));
        QCOMPARE(window.Controls().m_versionText->text(), QStringLiteral("V1.02"));
        QVERIFY(std::filesystem::exists(m_directory->Path() / "abc.bin"));

        // No server: one box, no dialog.
        QStringList windowBoxes;
        window.SetMessageBoxHandler(
            [&](const QString& text, const QString&, MessageIcon) { windowBoxes << text; });
        bool opened = false;
        window.SetBeforeDownloadDialog([&](DownloadDialog&) { opened = true; });
        {
            const testing::ScopedEnvironment refused("VELMORIN_UPDATE_SERVER",
                                                     testing::HttpServer::RefusingHost());
            window.Controls().m_downloadButton->click();
        }
        QVERIFY(!opened);
        QCOMPARE(windowBoxes.size(), 1);
        QVERIFY(windowBoxes[0].startsWith("Connecting server failed.\n\nError = 0x800C0007"));
    }

    // The file choosers as the operator meets them: the filter's text once,
    // and "..." in the directory the chooser uses anyway with a plain name,
    // whatever directories the catalogue's name holds.
    void fileChoosers() {
        testing::HttpServer server;
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=1\nFileName0=../up/def\nURL0=http://x/def.bin\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const auto work = m_directory->Path() / "work";
        std::filesystem::create_directories(work);
        std::filesystem::create_directories(m_directory->Path() / "up");
        const ScopedCurrentDirectory workHere(work);
        const QString workDir = QString::fromStdString(work.string());

        MainDialog window;
        struct Seen {
            QStringList filters;
            QString directory;
            QStringList selected;
        };
        const auto chooserOf = [](QDialog& modal, Seen& seen) {
            auto& chooser = static_cast<QFileDialog&>(modal);
            const auto* combo = chooser.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(combo != nullptr);
            for (int i = 0; i < combo->count(); ++i) {
                seen.filters << combo->itemText(i);
            }
            seen.directory = chooser.directory().absolutePath();
            seen.selected = chooser.selectedFiles();
        };
        struct Row {
            const char* name;
            std::function<void()> open;
            QString selected;  // empty: not looked at
        };
        const Row rows[] = {
            {"Open...", [&] { window.Controls().m_openButton->click(); }, QString()},
            {"...",
             [&] {
                 window.SetBeforeDownloadDialog([](DownloadDialog& opened) {
                     QTimer::singleShot(0, &opened, [&opened] {
                         opened.Controls().m_browseButton->click();
                         opened.Controls().m_exitButton->click();
                     });
                 });
                 window.Controls().m_downloadButton->click();
             },
             workDir + "/def.bin"},
        };
        for (const Row& row : rows) {
            Seen seen;
            InspectModals(row.open, [&](QDialog& modal) {
                if (qobject_cast<QFileDialog*>(&modal) != nullptr) {
                    chooserOf(modal, seen);
                }
            });
            QCOMPARE(seen.filters, QStringList{QStringLiteral("Kestrion Update File(*.bin)")});
            QCOMPARE(seen.directory, workDir);
            if (!row.selected.isEmpty()) {
                QCOMPARE(seen.selected, QStringList{row.selected});
            }
        }
    }

    // The download flow's failure boxes: no icon, the sentence first.
    void downloadFlowBoxes() {
        testing::HttpServer server;
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=1\nFileName0=gone\nURL0=http://" + server.Host() +
                         "/files/gone.bin\n");
        const ScopedCurrentDirectory workHere(m_directory->Path());
        struct Row {
            std::string updateServer;
            QString sentence;
        };
        const Row rows[] = {
            {testing::HttpServer::RefusingHost(), "Connecting server failed.\n\nError = 0x"},
            {server.Host(), "Download failed.\n\nError = 0x800C0194"},
        };
        for (const Row& row : rows) {
            const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", row.updateServer);
            MainDialog window;
            window.SetBeforeDownloadDialog([](DownloadDialog& opened) {
                QTimer::singleShot(0, &opened, [&opened] {
                    opened.Controls().m_downloadButton->click();
                    opened.Controls().m_exitButton->click();
                });
            });
            QStringList texts;
            QList<QMessageBox::Icon> icons;
            InspectModals([&] { window.Controls().m_downloadButton->click(); },
                          [&](QDialog& modal) {
                              if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
                                  texts << BoxText(*box);
                                  icons << box->icon();
                              }
                          });
            QCOMPARE(texts.size(), 1);
            QVERIFY2(texts[0].startsWith(row.sentence), qPrintable(texts[0]));
            QCOMPARE(icons, QList<QMessageBox::Icon>{QMessageBox::NoIcon});
        }
    }

    // A download into the path the window already shows is checked all the
    // same: the verdict follows the new file.
    void everyDownloadIsChecked() {
        testing::HttpServer server;
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=1\nFileName0=abc\nURL0=http://" + server.Host() +
                         "/files/abc.bin\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const ScopedCurrentDirectory workHere(m_directory->Path());
        MainDialog window;
        auto& ui = window.Controls();
        // A rejected file in the path box first.
        std::ofstream("abc.bin") << std::string(600, 'x');
        ui.m_pathEdit->setText(QStringLiteral("abc.bin"));
        QCOMPARE(ui.m_fileMessage->text(), QStringLiteral("File format error!"));

        // Over a rejected file, then over an accepted one of another version.
        for (const char* version : {"V1.02", "V2.07"}) {
            server.Serve("/files/abc.bin", Body(Sealed(64, version)));
            QStringList boxes;
            DownloadThroughWindow(window, 0, boxes);
            QCOMPARE(boxes, QStringList());
            QCOMPARE(ui.m_pathEdit->text(), QStringLiteral("abc.bin"));
            QCOMPARE(ui.m_versionText->text(), QString::fromLatin1(version));
            QVERIFY(ui.m_fileMessage->isHidden());
        }
    }

    // The largest update file comes down whole and is accepted; an answer
    // one byte past the download cap is refused and leaves nothing.
    void downloadsAtTheSizeLimits() {
        const auto largest = Sealed(kMaxPayloadLength, "V5.12");
        QCOMPARE(largest.size(), std::size_t{524288});
        testing::HttpServer server;
        server.Serve("/files/largest.bin", Body(largest));
        server.Serve("/files/past.bin", std::string(kMaxUpdateFileBytes + 1, 'x'));
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=2\nFileName0=largest\nURL0=http://" + server.Host() +
                         "/files/largest.bin\nFileName1=past\nURL1=http://" + server.Host() +
                         "/files/past.bin\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const ScopedCurrentDirectory workHere(m_directory->Path());
        struct Row {
            int entry;
            const char* file;
            bool delivered;
        };
        for (const Row& row : {Row{0, "largest.bin", true}, Row{1, "past.bin", false}}) {
            MainDialog window;
            auto& ui = window.Controls();
            QStringList boxes;
            DownloadThroughWindow(window, row.entry, boxes);
            const auto saved = m_directory->Path() / row.file;
            if (row.delivered) {
                QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(u'\n')));
                QCOMPARE(ui.m_pathEdit->text(), QString::fromLatin1(row.file));
                QCOMPARE(ui.m_versionText->text(), QStringLiteral("V5.12"));
                QVERIFY(testing::ReadBytes(saved) == largest);
            } else {
                QCOMPARE(boxes.size(), 1);
                QVERIFY2(boxes[0].startsWith("Download failed.\n\nError = 0x"),
                         qPrintable(boxes[0]));
                QCOMPARE(ui.m_pathEdit->text(), QString());
                QVERIFY(!std::filesystem::exists(saved));
            }
        }
    }

    // Texts from an update file and from the catalogue are shown as they
    // stand, markup and entities included, and the link fits what it shows.
    void textsShownAsTheyStand() {
        testing::HttpServer server;
        const QString caption = QStringLiteral("<b>Notes</b> for &lt;5A&gt;");
        const QString address = QStringLiteral("http://r/<i>x</i>?a=1&amp;b=2");
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=2\nFileName0=a\nFileName1=b\nRelease1=" +
                         caption.toStdString() + "\nReleaseURL1=" + address.toStdString() + "\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const ScopedCurrentDirectory workHere(m_directory->Path());

        MainDialog window;
        auto& ui = window.Controls();
        const auto path = m_directory->Path() / "marked.bin";
        testing::WriteBytes(path, Sealed(64, "&lt;5A", "<i>1010B</i>", "A <b>bold</b> memo"));
        ui.m_pathEdit->setText(QString::fromStdString(path.string()));

        QString linkText;
        QString linkTip;
        int linkWidth = -1;
        int captionWidth = -2;
        window.SetBeforeDownloadDialog([&](DownloadDialog& opened) {
            QTimer::singleShot(0, &opened, [&] {
                auto& list = *opened.Controls().m_updateList;
                list.setCurrentItem(list.topLevelItem(1));
                const HyperlinkLabel& link = *opened.Controls().m_releaseNotesLink;
                linkText = ShownText(link);
                linkTip = ShownText(link.toolTip(), Qt::AutoText);
                linkWidth = link.width();
                captionWidth = QFontMetrics(link.font()).horizontalAdvance(caption);
                opened.Controls().m_exitButton->click();
            });
        });
        ui.m_downloadButton->click();

        const std::pair<QString, QString> shown[] = {
            {ShownText(*ui.m_versionText), "&lt;5A"},
            {ShownText(*ui.m_typeText), "<i>1010B</i>"},
            {ShownText(*ui.m_memoText), "A <b>bold</b> memo"},
            {linkText, caption},
            {linkTip, address},
        };
        QStringList changed;
        for (const auto& [actual, expected] : shown) {
            if (actual != expected) {
                changed << expected + " shown as " + actual;
            }
        }
        QVERIFY2(changed.isEmpty(), qPrintable(changed.join(QStringLiteral("; "))));
        QCOMPARE(linkWidth, captionWidth);
    }

    // At the usual size and larger ones, the grown links stay inside their
    // windows with the right margin of the template (the new-release link's
    // 10 units, as much for the release-notes link), and are not cut.
    void grownLinksKeepTheirMargins() {
        testing::HttpServer server;
        const QString caption =
            QStringLiteral("Release notes of the balancer firmware for every 1010B charger");
        server.Serve(std::string(kCatalogueAddressPath),
                     "[Software]\nVer=V2.3\nURL=http://get.example/velmorin\n"
                     "[File List]\nCountEx=1\nFileName0=a\nRelease0=" +
                         caption.toStdString() + "\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const ScopedCurrentDirectory workHere(m_directory->Path());

        struct Seen {
            int dialogWidth = 0;
            QRect link;
            int textWidth = 0;
            int margin = 0;
        };
        const auto look = [](QWidget& dialog, const HyperlinkLabel& link, int marginUnits) {
            QCoreApplication::processEvents();
            return Seen{dialog.width(), link.geometry(),
                        QFontMetrics(link.font()).horizontalAdvance(link.text()),
                        DialogUnitsToPixels(QRect(0, 0, marginUnits, 0), dialog.font()).width()};
        };
        const QFont previousFont = QApplication::font();
        QStringList outside;
        for (const int points : {9, 11, 14, 15}) {
            QFont font = previousFont;
            font.setPointSize(points);
            QApplication::setFont(font);
            MainDialog window;
            window.show();
            Seen download;
            window.SetBeforeDownloadDialog([&](DownloadDialog& opened) {
                QTimer::singleShot(0, &opened, [&] {
                    download = look(opened, *opened.Controls().m_releaseNotesLink, 10);
                    opened.Controls().m_exitButton->click();
                });
            });
            window.Controls().m_downloadButton->click();
            const Seen main = look(window, *window.Controls().m_newReleaseLink, 304 - 152 - 142);
            // Nothing else grew: without the link the window is as drawn.
            window.Controls().m_newReleaseLink->hide();
            QCoreApplication::processEvents();
            if (window.width() != DialogUnitsToPixels(QRect(0, 0, 304, 0), window.font()).width()) {
                outside << QStringLiteral("%1 pt: window %2 wide without the link")
                               .arg(points)
                               .arg(window.width());
            }
            for (const auto& [name, seen] :
                 {std::pair{"new release", main}, {"release notes", download}}) {
                if (seen.link.x() + seen.link.width() + seen.margin > seen.dialogWidth ||
                    seen.link.width() < seen.textWidth) {
                    outside << QStringLiteral(
                                   "%1 pt, %2: link of %3 for a text of %4 ends at %5, "
                                   "window %6 wide, margin %7")
                                   .arg(points)
                                   .arg(name)
                                   .arg(seen.link.width())
                                   .arg(seen.textWidth)
                                   .arg(seen.link.x() + seen.link.width())
                                   .arg(seen.dialogWidth)
                                   .arg(seen.margin);
                }
            }
        }
        QApplication::setFont(previousFont);
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral("; "))));
    }

    // Without a display the window says so and ends with 1; --help and
    // --version answer all the same.
    void withoutDisplay() {
        const testing::ScopedEnvironment platform("QT_QPA_PLATFORM", std::nullopt);
        const testing::ScopedEnvironment display("DISPLAY", std::nullopt);
        const testing::ScopedEnvironment wayland("WAYLAND_DISPLAY", std::nullopt);
        const testing::ScopedEnvironment session("XDG_SESSION_TYPE", std::nullopt);
        const testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", m_directory->Path().string());
        struct Row {
            std::vector<std::string> arguments;
            int exitCode;
            const char* out;
            const char* err;
        };
        const Row rows[] = {
            {{},
             1,
             "",
             "velmorin: the window needs a display, and neither DISPLAY nor "
             "WAYLAND_DISPLAY is set."},
            {{"--help"}, 0, "Usage: velmorin [--help] [--version]\n", ""},
            {{"--version"}, 0, "velmorin V2.2\n", ""},
        };
        for (const Row& row : rows) {
            std::vector<std::string> command{VELMORIN_GUI};
            command.insert(command.end(), row.arguments.begin(), row.arguments.end());
            const testing::ProgramOutcome outcome = testing::RunProgram(command);
            QCOMPARE(outcome.exitCode, row.exitCode);
            QVERIFY2(outcome.out.rfind(row.out, 0) == 0, outcome.out.c_str());
            if (*row.err == '\0') {
                QCOMPARE(outcome.err, std::string());
            } else {
                QVERIFY2(outcome.err.rfind(row.err, 0) == 0, outcome.err.c_str());
            }
        }
    }

    // SIGTERM, SIGINT and SIGHUP end either window through its own
    // handling (the runs under way closed on record first): the program
    // ends with 128 + the signal's number rather than killed by it.
    void endingRequestsEndTheWindows() {
        const testing::ScopedEnvironment stateHome("XDG_STATE_HOME", m_directory->Path().string());
        const testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", m_directory->Path().string());
        const std::string file = Seal(64).toStdString();
        const std::vector<std::string> windows[] = {{VELMORIN_GUI},
                                                    {VELMORIN_GUI, "--station", file}};
        for (const auto& command : windows) {
            for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
                const std::string row = command.back() + " " + std::to_string(signal);
                const pid_t program = testing::StartProgram(command, m_directory->Path() / "out",
                                                            m_directory->Path() / "err");
                QVERIFY2(program > 0, row.c_str());
                // Sent once the program catches it (before, it would only be
                // killed by it).
                QVERIFY2(WaitFor([&] { return Catches(program, VELMORIN_GUI, signal); }),
                         row.c_str());
                ::kill(program, signal);
                int status = 0;
                QCOMPARE(::waitpid(program, &status, 0), program);
                QVERIFY2(WIFEXITED(status), row.c_str());
                QCOMPARE(WEXITSTATUS(status), 128 + signal);
            }
        }
    }

    void hyperlink() {
        QWidget parent;
        HyperlinkLabel link(&parent);
        link.setText(QStringLiteral("Please download the newly released version"));
        link.setGeometry(0, 0, 400, 40);
        link.SetUp();
        QCOMPARE(link.Url(), link.text());
        QVERIFY(link.font().underline());
        QCOMPARE(ShownText(link.toolTip(), Qt::AutoText), link.Url());
        QCOMPARE(link.height(), QFontMetrics(link.font()).height());
        QCOMPARE(link.CurrentColor(), QColor(0, 0, 238));
        link.SetUrl(QStringLiteral("http://127.0.0.1:1/release"));
        link.DisableUnderline();
        QVERIFY(!link.font().underline());

        QStringList reports;
        link.SetFailureReporter([&](const QString& text) { reports << text; });
        const std::pair<int, QString> failures[] = {
            {31,
             "Unable to open hyperlink:\n\nThere is no application associated\nwith the given "
             "filename extension."},
            {26, "Unable to open hyperlink:\n\nA sharing violation occurred. "},
            {0,
             "Unable to open hyperlink:\n\nThe operating system is out\nof memory or resources."},
        };
        for (const auto& [code, text] : failures) {
            link.SetOpener([code = code](const QString&) { return code; });
            QVERIFY(!link.OpenAddress());
            QCOMPARE(reports.back(), text);
            QVERIFY(!link.IsVisited());
        }
        link.SetOpener([](const QString&) { return kHyperlinkOpened; });
        QVERIFY(link.OpenAddress());
        QCOMPARE(link.CurrentColor(), QColor(85, 26, 139));
        QCOMPARE(reports.size(), 3);
        reports.clear();
        // Hover colours: the highlight over the link, the visited colour after.
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(&link, &enter);
        QVERIFY(link.IsMouseOver());
        QCOMPARE(link.CurrentColor(), QApplication::palette().color(QPalette::Highlight));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&link, &leave);
        QCOMPARE(link.CurrentColor(), QColor(85, 26, 139));

        // A centred link shrinks to its text around its old centre.
        HyperlinkLabel centred(&parent);
        centred.setText(QStringLiteral("Release notes"));
        centred.setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        centred.setGeometry(100, 10, 300, 20);
        centred.SetUp();
        QVERIFY(centred.width() < 300);
        QVERIFY(std::abs(centred.geometry().center().x() - QRect(100, 10, 300, 20).center().x()) <=
                1);

        // An address of another scheme from a catalogue is not opened.
        link.UseSystemOpener();
        link.SetUrl(QStringLiteral("file:///etc/passwd"));
        QVERIFY(!link.OpenAddress());
        QCOMPARE(reports.back(),
                 QStringLiteral("Unable to open hyperlink:\n\nThe operating system denied\naccess "
                                "to the specified file."));

        QCOMPARE(QString::fromStdString(HyperlinkFailureText(42)),
                 QStringLiteral("Unable to open hyperlink:\n\nUnknown Error (42) occurred."));
    }
};

}  // namespace velmorin

QTEST_MAIN(velmorin::MainDialogTest)
#include "main_dialog_test.moc"
