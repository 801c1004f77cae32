// SPDX-License-Identifier: MIT
// The main dialog on the offscreen platform: its states after
// initialisation, the file check, the device list following device changes
// (only the table during an upgrade), an upgrade from the Update button
// against a simulated charger, the single-instance start-up, and the
// hyperlink's failure texts.
#include "app/main_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <fstream>

#include "app/application.h"
#include "app/device_list.h"
#include "app/device_table.h"
#include "controls/hyperlink.h"
#include "device/virtual/virtual_devices.h"
#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "online/download_dialog.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "ui_download_dialog.h"
#include "ui_main_dialog.h"

namespace velmorin {

class MainDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testing::TempDirectory> m_directory;
    std::unique_ptr<testing::ScopedEnvironment> m_environment;
    // No catalogue server: the release check fails at once.
    testing::ScopedEnvironment m_updateServer{"VELMORIN_UPDATE_SERVER",
                                              testing::HttpServer::RefusingHost()};
    testing::ScopedEnvironment m_fallbackServer{"VELMORIN_FALLBACK_SERVER",
                                                testing::HttpServer::RefusingHost()};

    QString Dir() const { return QString::fromStdString(m_directory->Path().string()); }

    QString Seal(std::size_t length, const char* name = "update.bin") {
        std::vector<std::uint8_t> payload(length, 0x5A);
        UpdateHeader fields;
        fields.version = "V1.02";
        fields.type = "1010B";
        fields.memo = "Balancer update";
        fields.modelCode = 0x2A;
        const auto file = SealUpdateFile(fields, payload, SealedForm::WholeFile);
        const auto path = m_directory->Path() / name;
        testing::WriteBytes(path, file);
        return QString::fromStdString(path.string());
    }

    // Waits (pumping events) until `done` holds.
    static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 10000); }

private slots:
    void init() {
        m_directory = std::make_unique<testing::TempDirectory>();
        m_environment = std::make_unique<testing::ScopedEnvironment>(kVirtualDevicesVariable,
                                                                     m_directory->Path().string());
        g_bFileAccepted = false;
        g_bListBoxLive = true;
    }

    void cleanup() {
        m_environment.reset();
        m_directory.reset();
    }

    void initialStates() {
        CvelmorinDlg dialog;
        auto& ui = dialog.Controls();
        QVERIFY(!ui.m_btnUpdate->isEnabled());
        QVERIFY(ui.m_btnExit->isEnabled());
        QVERIFY(!ui.m_checkIncludeCom->isChecked());
        QVERIFY(ui.m_progress->isHidden());
        QVERIFY(ui.m_staticStatus->isHidden());
        QVERIFY(ui.m_labelVersion->isHidden());
        QVERIFY(ui.m_labelType->isHidden());
        QVERIFY(ui.m_labelMemo->isHidden());
        QCOMPARE(ui.m_staticVersion->text(), QString());
        QCOMPARE(ui.m_staticType->text(), QString());
        QCOMPARE(ui.m_staticFileMessage->text(),
                 QStringLiteral("The format of the file is error!"));
        QVERIFY(ui.m_staticFileMessage->isHidden());
        QVERIFY(ui.m_checkSerialNumber->isHidden());
        QVERIFY(ui.m_editSerialNumber->isHidden());
        QVERIFY(ui.m_btnSetSerialNumber->isHidden());
        QVERIFY(ui.m_linkNewRelease->isHidden());
        QCOMPARE(ui.m_listDevices->count(), 1);
        QCOMPARE(ui.m_listDevices->item(0)->text(), QStringLiteral("Device not found!"));
        QCOMPARE(ui.m_listDevices->currentRow(), 0);
        QCOMPARE(ui.m_btnUpdate->text(), QStringLiteral("&Update..."));
        // Laid out in dialog units: the Exit button sits right of Update.
        QVERIFY(ui.m_btnExit->x() > ui.m_btnUpdate->x() + ui.m_btnUpdate->width());
    }

    void fileCheckAndDevices() {
        CvelmorinDlg dialog;
        auto& ui = dialog.Controls();
        // An accepted file without a device: the labels show, Update stays off.
        ui.m_editPath->setText(Seal(64));
        QCOMPARE(ui.m_staticVersion->text(), QStringLiteral("V1.02"));
        QCOMPARE(ui.m_staticMemo->text(), QStringLiteral("Balancer update"));
        QVERIFY(!ui.m_labelVersion->isHidden());
        QVERIFY(!ui.m_btnUpdate->isEnabled());

        // A charger comes: the device change rebuilds the list; Update goes on.
        testing::PtyPeer charger(m_directory->Path(), 201);
        QVERIFY(WaitFor([&] { return ui.m_listDevices->item(0)->text().startsWith("Type:"); }));
        QCOMPARE(ui.m_listDevices->item(0)->text(),
                 QStringLiteral("Type: Varno Test, S/N:TCOM201"));
        QVERIFY(ui.m_btnUpdate->isEnabled());

        // A rejected file hides the labels, shows its reason, disables Update.
        std::ofstream(m_directory->Path() / "bad.bin") << std::string(600, 'x');
        ui.m_editPath->setText(Dir() + "/bad.bin");
        QVERIFY(ui.m_labelVersion->isHidden());
        QCOMPARE(ui.m_staticFileMessage->text(), QStringLiteral("File format error!"));
        QVERIFY(!ui.m_staticFileMessage->isHidden());
        QVERIFY(!ui.m_btnUpdate->isEnabled());

        // While an upgrade runs, a device change rebuilds only the table.
        g_bListBoxLive = false;
        std::filesystem::remove(m_directory->Path() / "COM201.json");
        QVERIFY(WaitFor([&] { return g_deviceCount == 0; }));
        QCOMPARE(ui.m_listDevices->count(), 1);
        QVERIFY(ui.m_listDevices->item(0)->text().startsWith("Type:"));
        g_bListBoxLive = true;
    }

    void upgradeFromTheUpdateButton() {
        testing::BackgroundProgram charger(
            {VELMORIN_SIM, "serial", "--dir", m_directory->Path().string(), "--model-code", "0x2A",
             "--save", m_directory->Path().string() + "/received.bin"});
        QVERIFY(testing::WaitForFile(m_directory->Path() / "COM201.json"));
        CvelmorinDlg dialog;
        auto& ui = dialog.Controls();
        QStringList boxes;
        dialog.SetMessageBoxHandler([&](const QString& text, const QString& caption, MessageIcon) {
            boxes << caption + ": " + text;
        });
        ui.m_editPath->setText(Seal(4096));
        QVERIFY(ui.m_btnUpdate->isEnabled());

        // Watch the window while the upgrade pumps its events.
        QStringList statuses;
        int highestProgress = -1;
        bool listDisabled = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            if (!ui.m_staticStatus->isHidden() &&
                (statuses.isEmpty() || statuses.back() != ui.m_staticStatus->text())) {
                statuses << ui.m_staticStatus->text();
            }
            if (!ui.m_progress->isHidden()) {
                highestProgress = std::max(highestProgress, ui.m_progress->value());
            }
            listDisabled = listDisabled || !ui.m_listDevices->isEnabled();
        });
        watcher.start(5);
        QTest::mouseClick(ui.m_btnUpdate, Qt::LeftButton);
        watcher.stop();

        QCOMPARE(boxes, QStringList{QStringLiteral("Success: Upgrade completion!")});
        QVERIFY(statuses.contains(QStringLiteral("Upgrading ...")));
        QVERIFY2(highestProgress > 100, qPrintable(QString::number(highestProgress)));
        QVERIFY(listDisabled);
        QVERIFY(ui.m_progress->isHidden());
        QVERIFY(ui.m_listDevices->isEnabled());
        QCOMPARE(ui.m_listDevices->currentRow(), 0);
        QVERIFY(ui.m_btnUpdate->isEnabled());
    }

    void newReleaseLink() {
        testing::HttpServer server;
        server.Serve(std::string(kCatalogueAddressPath),
                     "[Software]\nVer=V2.3\nURL=http://get.example/velmorin\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(m_directory->Path());
        {
            CvelmorinDlg dialog;
            auto& link = *dialog.Controls().m_linkNewRelease;
            QVERIFY(!link.isHidden());
            QCOMPARE(link.Url(), QStringLiteral("http://get.example/velmorin"));
            QVERIFY(!link.font().underline());
            QCOMPARE(link.text(), QStringLiteral("Please download the newly released version"));
        }
        server.Serve(std::string(kCatalogueAddressPath), "[Software]\nVer=V2.2\n");
        {
            CvelmorinDlg dialog;
            QVERIFY(dialog.Controls().m_linkNewRelease->isHidden());
        }
        std::filesystem::current_path(previous);
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
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(m_directory->Path());

        QVERIFY(FetchCatalogue(nullptr));
        QString delivered;
        CDownLoad dialog(nullptr, [&](const QString& path) { delivered = path; });
        auto& ui = dialog.Controls();
        auto& link = *ui.m_linkReleaseNotes;
        // Row 0 on opening; its caption, and the default notes address.
        QCOMPARE(ui.m_listUpdates->currentIndex().row(), 0);
        QCOMPARE(ui.m_editSaveAs->text(), QStringLiteral("abc.bin"));
        QCOMPARE(link.text(), QStringLiteral("Notes for abc"));
        QCOMPARE(link.Url(),
                 QStringLiteral("http://www.test.example/UploadFiles/ReleaseNotes-Kestrion.txt"));
        QVERIFY(!std::filesystem::exists(kTemporaryCatalogue));
        // Row 1 has no file name; row 2's is made a plain name; back to row 0.
        ui.m_listUpdates->setCurrentItem(ui.m_listUpdates->topLevelItem(1));
        QCOMPARE(ui.m_editSaveAs->text(), QString());
        ui.m_listUpdates->setCurrentItem(ui.m_listUpdates->topLevelItem(2));
        QCOMPARE(ui.m_editSaveAs->text(), QStringLiteral("def.bin"));
        ui.m_listUpdates->setCurrentItem(ui.m_listUpdates->topLevelItem(0));
        QCOMPARE(link.Url(), QStringLiteral("http://r/abc"));

        // The last column reaches the right edge, also after a resize.
        dialog.show();
        auto& list = *ui.m_listUpdates;
        for (const int width : {list.width(), list.width() + 700}) {
            list.resize(width, list.height());
            QCoreApplication::processEvents();
            QHeaderView& header = *list.header();
            QCOMPARE(header.sectionViewportPosition(5) + header.sectionSize(5),
                     std::max(list.viewport()->width(), header.length()));
        }

        // "..." proposes the row's name; cancelling keeps the box.
        QString proposed;
        dialog.SetSaveChooser([&](const QString& name) -> std::optional<QString> {
            proposed = name;
            return std::nullopt;
        });
        ui.m_btnBrowse->click();
        QCOMPARE(proposed, QStringLiteral("abc"));
        QCOMPARE(ui.m_editSaveAs->text(), QStringLiteral("abc.bin"));

        // A refused address: the failure box, the dialog stays open and idle.
        QStringList boxes;
        dialog.SetMessageBoxHandler([&](const QString& text) { boxes << text; });
        ui.m_listUpdates->setCurrentItem(ui.m_listUpdates->topLevelItem(1));
        ui.m_editSaveAs->setText(QStringLiteral("x.bin"));
        ui.m_btnDownload->click();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith("Download failed.\n\nError = 0x800C0001\n\n"));
        QVERIFY(ui.m_btnDownload->isEnabled());
        QVERIFY(ui.m_staticStatus->isHidden());
        QVERIFY(delivered.isEmpty());
        QCOMPARE(dialog.result(), 0);

        // Through the main window: the download fills its path, which is checked.
        CvelmorinDlg window;
        window.SetBeforeDownloadDialog([&](CDownLoad& opened) {
            QTimer::singleShot(0, &opened, [&opened] { opened.Controls().m_btnDownload->click(); });
        });
        window.Controls().m_btnDownload->click();
        QCOMPARE(window.Controls().m_editPath->text(), QStringLiteral("abc.bin"));
        QCOMPARE(window.Controls().m_staticVersion->text(), QStringLiteral("V1.02"));
        QVERIFY(std::filesystem::exists(m_directory->Path() / "abc.bin"));

        // No server: one box, no dialog.
        QStringList windowBoxes;
        window.SetMessageBoxHandler(
            [&](const QString& text, const QString&, MessageIcon) { windowBoxes << text; });
        bool opened = false;
        window.SetBeforeDownloadDialog([&](CDownLoad&) { opened = true; });
        {
            const testing::ScopedEnvironment refused("VELMORIN_UPDATE_SERVER",
                                                     testing::HttpServer::RefusingHost());
            window.Controls().m_btnDownload->click();
        }
        QVERIFY(!opened);
        QCOMPARE(windowBoxes.size(), 1);
        QVERIFY(windowBoxes[0].startsWith("Connecting server failed.\n\nError = 0x800C0007"));
        std::filesystem::current_path(previous);
    }

    void secondStartIsRefused() {
        const testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", m_directory->Path().string());
        QStringList messages;
        int dialogs = 0;
        StartupHooks inner{[&](const QString& text) { messages << text; }, [&] { ++dialogs; }};
        StartupHooks outer{[&](const QString& text) { messages << text; },
                           [&] {
                               ++dialogs;
                               // The first copy is running: a second start ends at once.
                               QCOMPARE(RunStartup({}, "velmorin", inner),
                                        StartupEnd::AlreadyRunning);
                           }};
        QCOMPARE(RunStartup({"/Embedding", "some-file"}, "velmorin", outer),
                 StartupEnd::DialogClosed);
        QCOMPARE(messages, QStringList{QStringLiteral("The program have run already!")});
        QCOMPARE(dialogs, 1);
        for (const char* switchText : {"/Regserver", "-unregister", "-REGISTER", "/UnregServer"}) {
            QCOMPARE(RunStartup({switchText}, "velmorin", inner), StartupEnd::Registration);
        }
        QCOMPARE(dialogs, 1);
    }

    void hyperlink() {
        QWidget parent;
        CHyperLink link(&parent);
        link.setText(QStringLiteral("Please download the newly released version"));
        link.setGeometry(0, 0, 400, 40);
        link.SetUp();
        QCOMPARE(link.Url(), link.text());
        QVERIFY(link.font().underline());
        QCOMPARE(link.toolTip(), link.Url());
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
        CHyperLink centred(&parent);
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

        QCOMPARE(HyperlinkFailureText(42),
                 QStringLiteral("Unable to open hyperlink:\n\nUnknown Error (42) occurred."));
    }
};

}  // namespace velmorin

QTEST_MAIN(velmorin::MainDialogTest)
#include "main_dialog_test.moc"
