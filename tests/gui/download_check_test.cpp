// SPDX-License-Identifier: MIT
// The window's download on the offscreen platform: the downloaded bytes are
// checked before they replace the file at the chosen path, and the main
// window's path box and file information show the verdict.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "gui/download_dialog.h"
#include "gui/main_dialog.h"
#include "image/file_info_display.h"
#include "image/update_sealer.h"
#include "online/catalogue.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "ui_download_dialog.h"
#include "ui_main_dialog.h"

namespace velmorin {

class DownloadCheckTest : public QObject {
    Q_OBJECT

private:
    static std::string Sealed(const char* version) {
        UpdateHeader fields;
        fields.version = version;
        fields.type = "1010B";
        fields.modelCode = 0x2A;
        const auto file =
            SealUpdateFile(fields, std::vector<std::uint8_t>(512, 0x5A), SealedForm::WholeFile);
        return std::string(file.begin(), file.end());
    }

    static std::string ReadText(const std::filesystem::path& path) {
        const auto bytes = testing::ReadBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }

private slots:
    void downloadIsCheckedBeforeItReplaces_data() {
        QTest::addColumn<QByteArray>("served");
        QTest::addColumn<QString>("pathBox");
        QTest::addColumn<QString>("version");      // shown for an accepted file
        QTest::addColumn<QString>("fileMessage");  // shown for a rejected one
        QTest::addColumn<bool>("replaced");
        const std::string newer = Sealed("V2.00");
        QTest::newRow("accepted file")
            << QByteArray(newer.data(), static_cast<int>(newer.size())) << QStringLiteral("abc.bin")
            << QStringLiteral("V2.00") << QString() << true;
        QTest::newRow("web page") << QByteArray("<html>Not found</html>")
                                  << QStringLiteral("abc.bin.rejected") << QString()
                                  << QStringLiteral("File format error!") << false;
        QTest::newRow("file too big") << QByteArray(static_cast<int>(kMaxUpdateFileSize) + 1, 'x')
                                      << QStringLiteral("abc.bin.rejected") << QString()
                                      << QStringLiteral("The file is big!") << false;
    }

    void downloadIsCheckedBeforeItReplaces() {
        QFETCH(QByteArray, served);
        QFETCH(QString, pathBox);
        QFETCH(QString, version);
        QFETCH(QString, fileMessage);
        QFETCH(bool, replaced);

        const testing::TempDirectory directory;
        const testing::ScopedEnvironment devices("VELMORIN_VIRTUAL_DEVICES",
                                                 directory.Path().string());
        testing::HttpServer server;
        server.Serve("/files/abc.bin", served.toStdString());
        server.Serve(std::string(kCatalogueAddressPath),
                     "[File List]\nCountEx=1\nType0=1010B\nFileName0=abc\nURL0=http://" +
                         server.Host() + "/files/abc.bin\n");
        const testing::ScopedEnvironment update("VELMORIN_UPDATE_SERVER", server.Host());
        const testing::ScopedEnvironment fallback("VELMORIN_FALLBACK_SERVER",
                                                  testing::HttpServer::RefusingHost());
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(directory.Path());
        // A good file is on disk under the name the download proposes.
        const std::string good = Sealed("V1.02");
        testing::WriteBytes("abc.bin", std::vector<std::uint8_t>(good.begin(), good.end()));

        MainDialog window;
        QStringList boxes;
        window.SetBeforeDownloadDialog([&](DownloadDialog& dialog) {
            dialog.SetMessageBoxHandler([&](const QString& text) { boxes << text; });
            QTimer::singleShot(0, &dialog, [&dialog] {
                dialog.Controls().m_downloadButton->click();
                if (dialog.isVisible()) {
                    dialog.reject();  // a failed download leaves it open
                }
            });
        });
        window.Controls().m_downloadButton->click();
        std::filesystem::current_path(previous);

        auto& ui = window.Controls();
        QCOMPARE(ui.m_pathEdit->text(), pathBox);
        QCOMPARE(ui.m_versionText->text(), version);
        QCOMPARE(ui.m_fileMessage->isHidden(), fileMessage.isEmpty());
        if (!fileMessage.isEmpty()) {
            QCOMPARE(ui.m_fileMessage->text(), fileMessage);
        }
        const std::string onDisk = ReadText(directory.Path() / "abc.bin");
        QCOMPARE(onDisk == served.toStdString(), replaced);
        QCOMPARE(onDisk == good, !replaced);
        if (!replaced) {
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0],
                     QStringLiteral("The downloaded file is rejected: %1\nabc.bin is left as it "
                                    "was; the downloaded bytes are kept in abc.bin.rejected.")
                         .arg(fileMessage));
            QCOMPARE(ReadText(directory.Path() / "abc.bin.rejected"), served.toStdString());
        }
    }
};

}  // namespace velmorin

QTEST_MAIN(velmorin::DownloadCheckTest)
#include "download_check_test.moc"
