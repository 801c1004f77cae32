// SPDX-License-Identifier: MIT
// The station window on the offscreen platform against simulated chargers:
// the file check that enables Start; two serial and two HID chargers (one
// of them failing) upgraded at once from Start, with slot names and a
// charger of another model skipped, their tiles, tally, payloads and
// history lines, and the history exported as CSV and as JSON lines; a
// second Start that the history tells which chargers are done before, and
// a third that upgrades them again; two chargers with one serial number
// and one without any; a failed charger unplugged; the count to stop
// after; a file rewritten during a run; Stop letting the run under way end
// while a charger that arrives meanwhile waits; closing refused while a run
// is on, the window destroyed in the middle of a run without waiting on
// itself, and the program's ending request recording the run under way.
#include "gui/station_window.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "gui/station_tile.h"
#include "image/sha256.h"
#include "image/update_sealer.h"
#include "session/ledger.h"
#include "session/run_journal.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

// Generous: the runs take a few seconds, on a machine that may be busy.
constexpr int kRunTimeoutMs = 60000;

// A tile as the operator reads it.
struct TileText {
    QString serialNumber;  // as shown: "S/N:..." or "no serial number"
    QString label;
    QString state;
    QString detail;
    int position = 0;
    int maximum = 0;
};

QString LabelText(const QWidget& parent, const char* name) {
    const auto* label = parent.findChild<QLabel*>(QString::fromLatin1(name));
    return label != nullptr ? label->text() : QStringLiteral("(no %1)").arg(name);
}

// The window's tiles, in no particular order.
std::vector<TileText> TileList(const StationWindow& window) {
    std::vector<TileText> tiles;
    for (const StationTile* tile : window.findChildren<StationTile*>()) {
        const auto* progress = tile->findChild<QProgressBar*>(QStringLiteral("m_progress"));
        tiles.push_back({LabelText(*tile, "m_serialText"), LabelText(*tile, "m_labelText"),
                         LabelText(*tile, "m_stateText"), LabelText(*tile, "m_detailText"),
                         progress->value(), progress->maximum()});
    }
    return tiles;
}

// The window's tiles by the serial number they show (each shown once).
std::map<QString, TileText> Tiles(const StationWindow& window) {
    std::map<QString, TileText> tiles;
    for (const TileText& tile : TileList(window)) {
        tiles[tile.serialNumber] = tile;
    }
    return tiles;
}

// "state: detail" of each tile, for a failure's message.
QString Describe(const std::vector<TileText>& tiles) {
    QStringList lines;
    for (const TileText& tile : tiles) {
        lines << tile.serialNumber + " " + tile.label + " " + tile.state + ": " + tile.detail;
    }
    return lines.join(u'\n');
}

QString Tally(const StationWindow& window) {
    return LabelText(window, "m_tallyText");
}

QPushButton* Button(const StationWindow& window, const char* name) {
    return window.findChild<QPushButton*>(QString::fromLatin1(name));
}

QString ButtonText(const StationWindow& window, const char* name) {
    return Button(window, name)->text().remove(u'&');
}

// Clicks `button`; the file chooser that it opens is given `path` and
// accepted. False when no chooser opened or it did not take the path.
bool ChooseFile(QPushButton* button, const QString& path) {
    bool chosen = false;
    bool refused = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr) {
            return;
        }
        if (chosen) {
            // Still open after it was accepted: it did not take the path.
            refused = true;
            chooser->reject();
            return;
        }
        chosen = true;
        // Typed into its name field, as an operator would.
        auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            return;
        }
        name->setText(path);
        static_cast<QDialog*>(chooser)->accept();  // QFileDialog::accept is protected
    });
    poll.start(20);
    button->click();
    poll.stop();
    return chosen && !refused;
}

std::vector<std::string> Lines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t at = text.find(end, from);
        lines.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        from = at == std::string::npos ? text.size() : at + end.size();
    }
    return lines;
}

}  // namespace

class StationWindowTest : public QObject {
    Q_OBJECT

private:
    // The file choosers keep their last directory in the user's settings:
    // here in a directory of this run's own.
    testing::TempDirectory m_settingsDirectory;
    testing::ScopedEnvironment m_settings{"XDG_CONFIG_HOME", m_settingsDirectory.Path().string()};
    std::unique_ptr<testing::TempDirectory> m_devices;
    std::unique_ptr<testing::TempDirectory> m_state;
    std::unique_ptr<testing::ScopedEnvironment> m_virtual;
    std::unique_ptr<testing::ScopedEnvironment> m_stateHome;
    std::vector<std::uint8_t> m_payload;

    std::filesystem::path Dir() const { return m_devices->Path(); }
    QString DirText() const { return QString::fromStdString(Dir().string()); }

    std::vector<LedgerEntry> History() const {
        return ReadLedger(m_state->Path() / "velmorin" / "history.jsonl").entries;
    }

    QString Seal(std::size_t length = 2048, const char* version = "V1.02") {
        m_payload = std::vector<std::uint8_t>(length);
        for (std::size_t i = 0; i < m_payload.size(); ++i) {
            m_payload[i] = static_cast<std::uint8_t>(i * 31 + 5);
        }
        UpdateHeader fields;
        fields.version = version;
        fields.type = "1010B";
        fields.memo = "Balancer update";
        fields.modelCode = 0x2A;
        const auto path = Dir() / "update.bin";
        testing::WriteBytes(path, SealUpdateFile(fields, m_payload, SealedForm::WholeFile));
        return QString::fromStdString(path.string());
    }

    // `velmorin-sim kind` with `args`, once it has announced itself as
    // `announced`; nothing when it did not. Its model is the file's, unless
    // `modelCode` says another (then it refuses the file, at once and
    // without restarting).
    std::unique_ptr<testing::BackgroundProgram> Charger(const std::string& kind,
                                                        const std::string& announced,
                                                        std::vector<std::string> args,
                                                        const std::string& modelCode = "0x2A") {
        std::vector<std::string> command = {VELMORIN_SIM,   kind,           "--dir",
                                            Dir().string(), "--model-code", modelCode};
        command.insert(command.end(), args.begin(), args.end());
        auto charger = std::make_unique<testing::BackgroundProgram>(command);
        return testing::WaitForFile(Dir() / announced) ? std::move(charger) : nullptr;
    }

private slots:
    void init() {
        m_devices = std::make_unique<testing::TempDirectory>();
        m_state = std::make_unique<testing::TempDirectory>();
        m_virtual = std::make_unique<testing::ScopedEnvironment>("VELMORIN_VIRTUAL_DEVICES",
                                                                 Dir().string());
        m_stateHome = std::make_unique<testing::ScopedEnvironment>("XDG_STATE_HOME",
                                                                   m_state->Path().string());
    }

    void cleanup() {
        m_stateHome.reset();
        m_virtual.reset();
        m_state.reset();
        m_devices.reset();
    }

    void fileCheckEnablesStart_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("reason");
        QTest::newRow("accepted") << "update.bin"
                                  << "V1.02"
                                  << "";
        QTest::newRow("no file named") << ""
                                       << ""
                                       << "";
        QTest::newRow("not an update file") << "bad.bin"
                                            << ""
                                            << "File format error!";
        QTest::newRow("too big") << "big.bin"
                                 << ""
                                 << "The file is big!";
        QTest::newRow("missing") << "missing.bin"
                                 << ""
                                 << "cannot open";
    }

    void fileCheckEnablesStart() {
        QFETCH(QString, file);
        QFETCH(QString, version);
        QFETCH(QString, reason);
        Seal();
        std::ofstream(Dir() / "bad.bin") << std::string(600, 'x');
        std::ofstream(Dir() / "big.bin") << std::string(kMaxUpdateFileSize + 1, 'x');
        const QString path = file.isEmpty() ? QString() : DirText() + "/" + file;

        // Given on the command line, and typed into the path field.
        StationWindow fromCommandLine(path);
        StationWindow typed;
        typed.findChild<QLineEdit*>(QStringLiteral("m_pathEdit"))->setText(path);
        for (const StationWindow* window : {&fromCommandLine, &typed}) {
            QCOMPARE(LabelText(*window, "m_versionText"), version);
            QCOMPARE(LabelText(*window, "m_typeText"),
                     version.isEmpty() ? QString() : QStringLiteral("1010B"));
            QCOMPARE(LabelText(*window, "m_memoText"),
                     version.isEmpty() ? QString() : QStringLiteral("Balancer update"));
            const auto* message = window->findChild<QLabel*>(QStringLiteral("m_fileMessage"));
            QVERIFY2(
                reason.isEmpty() ? message->text().isEmpty() : message->text().startsWith(reason),
                qPrintable(message->text()));
            QCOMPARE(message->isHidden(), reason.isEmpty());
            QCOMPARE(Button(*window, "m_startButton")->isEnabled(), !version.isEmpty());
        }
    }

    void upgradesEveryArrivingChargerAndExportsTheHistory() {
        const QString file = Seal();
        const std::string dir = Dir().string();
        const auto serialA =
            Charger("serial", "COM201.json",
                    {"--port", "COM201", "--serial-number", "SA000001", "--save", dir + "/a.bin"});
        const auto serialB =
            Charger("serial", "COM202.json",
                    {"--port", "COM202", "--serial-number", "SB000002", "--save", dir + "/b.bin"});
        const auto hidC = Charger(
            "hid", "charger1.json",
            {"--name", "charger1", "--serial-number", "HC000003", "--save", dir + "/c.bin"});
        // Of another model code than the file's: refuses the file.
        const auto serialD = Charger("serial", "COM204.json",
                                     {"--port", "COM204", "--serial-number", "SD000004"}, "0x2B");
        const auto otherModel =
            Charger("serial", "COM203.json",
                    {"--port", "COM203", "--serial-number", "SE000005", "--product",
                     "Varno Kestrion Y", "--save", dir + "/e.bin"});
        QVERIFY(serialA && serialB && hidC && serialD && otherModel);
        std::ofstream(Dir() / "slots.txt") << "COM201 = Slot 1\nCOM202 = Slot 2\n";

        StationWindow window(file);
        QStringList boxes;
        window.SetMessageBoxHandler([&](const QString& text, const QString& caption, MessageIcon) {
            boxes << caption + ": " + text;
        });
        window.show();
        QVERIFY(ChooseFile(Button(window, "m_slotsButton"), DirText() + "/slots.txt"));
        QCOMPARE(LabelText(window, "m_slotsText"), QStringLiteral("slots.txt"));
        window.findChild<QLineEdit*>(QStringLiteral("m_modelEdit"))->setText("Kestrion X");

        Button(window, "m_startButton")->click();
        QCOMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Stop"));
        // The file and the settings are held while the station is on.
        for (const char* name :
             {"m_pathEdit", "m_modelEdit", "m_slotsButton", "m_stopAfterSpin", "m_againCheck"}) {
            QVERIFY2(!window.findChild<QWidget*>(QString::fromLatin1(name))->isEnabled(), name);
        }
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 3, failed 1, in progress 0, skipped 1"),
                                  kRunTimeoutMs);

        const auto tiles = Tiles(window);
        QCOMPARE(tiles.size(), std::size_t{5});
        const struct {
            const char* serialNumber;
            const char* label;  // a HID charger's name may change as it restarts
            const char* state;
            const char* detail;  // how it starts
        } expected[] = {
            {"SA000001", "Slot 1", "done", "Upgrade completion!"},
            {"SB000002", "Slot 2", "done", "Upgrade completion!"},
            {"HC000003", "HID", "done", "Upgrade completion!"},
            {"SD000004", "COM204", "failed", "The update file is in inconformity with the device."},
            {"SE000005", "COM203", "skipped", "not a Kestrion X"},
        };
        for (const auto& row : expected) {
            const auto found = tiles.find(QStringLiteral("S/N:") + row.serialNumber);
            QVERIFY2(found != tiles.end(), row.serialNumber);
            const TileText& tile = found->second;
            QVERIFY2(tile.label.startsWith(row.label), qPrintable(tile.label));
            QCOMPARE(tile.state, QString::fromLatin1(row.state));
            QVERIFY2(tile.detail.startsWith(QString::fromLatin1(row.detail)),
                     qPrintable(tile.detail));
            if (tile.state == "done") {
                QVERIFY2(tile.maximum > 1 && tile.position == tile.maximum, row.serialNumber);
            }
        }

        for (const char* saved : {"a.bin", "b.bin", "c.bin"}) {
            QVERIFY2(testing::ReadBytes(Dir() / saved) == m_payload, saved);
        }
        QVERIFY(!std::filesystem::exists(Dir() / "e.bin"));
        const std::vector<LedgerEntry> history = History();
        QCOMPARE(history.size(), std::size_t{4});
        std::map<std::string, LedgerEntry> bySerialNumber;
        for (const LedgerEntry& entry : history) {
            bySerialNumber[entry.serialNumber] = entry;
        }
        QCOMPARE(bySerialNumber.size(), std::size_t{4});
        for (const char* serialNumber : {"SA000001", "SB000002", "HC000003"}) {
            QVERIFY2(bySerialNumber[serialNumber].outcome == LedgerOutcome::Completed,
                     serialNumber);
        }
        QVERIFY(bySerialNumber["SD000004"].outcome == LedgerOutcome::Mismatch);
        QCOMPARE(bySerialNumber["SA000001"].slot, std::string("Slot 1"));
        QCOMPARE(bySerialNumber["HC000003"].slot, std::string());
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(u'\n')));

        // No run is on: Stop ends the station at once.
        Button(window, "m_startButton")->click();
        QCOMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Start"));
        QVERIFY(!window.Running());
        QVERIFY(window.findChild<QLineEdit*>(QStringLiteral("m_pathEdit"))->isEnabled());

        // The history as CSV, and as JSON lines for a name ending in .jsonl,
        // each run once (its started line folded into its outcome).
        QVERIFY(ChooseFile(Button(window, "m_exportButton"), DirText() + "/export.csv"));
        QTRY_COMPARE_WITH_TIMEOUT(LabelText(window, "m_noteText"),
                                  QStringLiteral("4 upgrades exported to export.csv"),
                                  kRunTimeoutMs);
        QVERIFY(Button(window, "m_exportButton")->isEnabled());
        const std::vector<std::string> rows =
            Lines(testing::ReadText(Dir() / "export.csv"), "\r\n");
        QCOMPARE(rows.size(), std::size_t{5});
        QCOMPARE(rows[0],
                 std::string("run_id,time,station,operator,device,slot,model,serial_number,file,"
                             "file_sha256,file_version,file_type,outcome,message,"
                             "error_code,attempts,frames,resends,timeouts,elapsed_ms,"
                             "bytes_per_second,tool_version"));
        for (std::size_t row = 1; row < rows.size(); ++row) {
            const LedgerEntry& entry = history[row - 1];
            QVERIFY2(rows[row].rfind(entry.runId + ",", 0) == 0, rows[row].c_str());
            QVERIFY2(rows[row].find("," + entry.serialNumber + ",") != std::string::npos,
                     rows[row].c_str());
        }

        QVERIFY(ChooseFile(Button(window, "m_exportButton"), DirText() + "/export.jsonl"));
        QTRY_COMPARE_WITH_TIMEOUT(LabelText(window, "m_noteText"),
                                  QStringLiteral("4 upgrades exported to export.jsonl"),
                                  kRunTimeoutMs);
        std::vector<LedgerEntry> exported;
        for (const std::string& line : Lines(testing::ReadText(Dir() / "export.jsonl"), "\n")) {
            const auto entry = ParseLedgerLine(line);
            QVERIFY2(entry.has_value(), line.c_str());
            exported.push_back(*entry);
        }
        QVERIFY(exported == history);

        // A file that cannot be written says why; nothing is left behind.
        QVERIFY(ChooseFile(Button(window, "m_exportButton"), DirText() + "/a.bin/export.csv"));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, kRunTimeoutMs);
        QVERIFY2(boxes[0].startsWith("Error: cannot write " + DirText() + "/a.bin/export.csv: "),
                 qPrintable(boxes[0]));
        QVERIFY(Button(window, "m_exportButton")->isEnabled());

        // Started again with the same file: the history says that the three
        // completed with it, so they are done before and not upgraded again
        // (their simulators save nothing); the failed one is tried once more.
        for (const char* saved : {"a.bin", "b.bin", "c.bin"}) {
            std::filesystem::remove(Dir() / saved);
        }
        Button(window, "m_startButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(History().size(), std::size_t{5}, kRunTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 0, failed 1, in progress 0, skipped 4"),
                                  kRunTimeoutMs);
        QCOMPARE(History().back().serialNumber, std::string("SD000004"));
        const auto again = Tiles(window);
        for (const char* serialNumber : {"SA000001", "SB000002", "HC000003"}) {
            const TileText& tile = again.at(QStringLiteral("S/N:") + serialNumber);
            QCOMPARE(tile.state, QStringLiteral("done"));
            // When and where: the first session's line, on this computer.
            const QString done = QStringLiteral("done before (%1, %2)")
                                     .arg(QString::fromStdString(bySerialNumber[serialNumber].time),
                                          QString::fromStdString(StationName()));
            QCOMPARE(tile.detail, done);
        }
        Button(window, "m_startButton")->click();
        QTRY_COMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Start"));
        for (const char* saved : {"a.bin", "b.bin", "c.bin"}) {
            QVERIFY2(!std::filesystem::exists(Dir() / saved), saved);
        }

        // With "Upgrade chargers done before", they are upgraded again.
        window.findChild<QCheckBox*>(QStringLiteral("m_againCheck"))->setChecked(true);
        Button(window, "m_startButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 3, failed 1, in progress 0, skipped 1"),
                                  kRunTimeoutMs);
        QCOMPARE(History().size(), std::size_t{9});
        for (const char* saved : {"a.bin", "b.bin", "c.bin"}) {
            QVERIFY2(testing::ReadBytes(Dir() / saved) == m_payload, saved);
        }
        Button(window, "m_startButton")->click();
        QTRY_COMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Start"));
    }

    // Two chargers listed at once are two, whatever their serial numbers
    // say: two with the same one are two tiles and both are upgraded, and
    // one without any says so on its tile and is upgraded too.
    void everyListedChargerIsOneTile() {
        const QString file = Seal();
        const std::string dir = Dir().string();
        const auto first =
            Charger("serial", "COM201.json",
                    {"--port", "COM201", "--serial-number", "SAME0001", "--save", dir + "/a.bin"});
        const auto second =
            Charger("serial", "COM202.json",
                    {"--port", "COM202", "--serial-number", "SAME0001", "--save", dir + "/b.bin"});
        const auto anonymous =
            Charger("hid", "charger1.json",
                    {"--name", "charger1", "--serial-number", "", "--save", dir + "/c.bin"});
        QVERIFY(first && second && anonymous);

        StationWindow window(file);
        window.show();
        Button(window, "m_startButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 3, failed 0, in progress 0, skipped 0"),
                                  kRunTimeoutMs);
        const std::vector<TileText> tiles = TileList(window);
        QVERIFY2(tiles.size() == 3, qPrintable(Describe(tiles)));
        std::map<QString, int> doneBySerialNumber;
        for (const TileText& tile : tiles) {
            QVERIFY2(tile.state == "done" && tile.detail.startsWith("Upgrade completion!"),
                     qPrintable(Describe(tiles)));
            ++doneBySerialNumber[tile.serialNumber];
        }
        QCOMPARE(doneBySerialNumber[QStringLiteral("S/N:SAME0001")], 2);
        QCOMPARE(doneBySerialNumber[QStringLiteral("no serial number")], 1);
        for (const char* saved : {"a.bin", "b.bin", "c.bin"}) {
            QVERIFY2(testing::ReadBytes(Dir() / saved) == m_payload, saved);
        }
        std::map<std::string, int> completed;
        for (const LedgerEntry& entry : History()) {
            completed[entry.serialNumber] += entry.outcome == LedgerOutcome::Completed ? 1 : 0;
        }
        QCOMPARE(completed["SAME0001"], 2);
        QCOMPARE(completed[""], 1);
        Button(window, "m_startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), kRunTimeoutMs);
    }

    // A charger that failed and was then unplugged still counts as failed,
    // for the shift's tally and the station's exit status.
    void failedChargerUnpluggedStillCounts() {
        const QString file = Seal();
        // Of another model code than the file's: refuses the file.
        auto failing = Charger("hid", "charger1.json",
                               {"--name", "charger1", "--serial-number", "HF000001"}, "0x2B");
        QVERIFY(failing);
        StationWindow window(file);
        window.show();
        Button(window, "m_startButton")->click();
        const QString failed = QStringLiteral("Done 0, failed 1, in progress 0, skipped 0");
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window), failed, kRunTimeoutMs);
        QCOMPARE(Tiles(window)["S/N:HF000001"].state, QStringLiteral("failed"));

        const QString reason = Tiles(window)["S/N:HF000001"].detail;
        QVERIFY2(reason.startsWith("8003: "), qPrintable(reason));

        // Unplugged: away, waiting to be tried again should it come back,
        // and still failed in the tally, with its reason on its tile.
        failing.reset();
        QTRY_VERIFY_WITH_TIMEOUT(Tiles(window)["S/N:HF000001"].state.endsWith(" (away)"),
                                 kRunTimeoutMs);
        QCOMPARE(Tally(window), failed);
        QCOMPARE(Tiles(window)["S/N:HF000001"].detail, reason);
        Button(window, "m_startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), kRunTimeoutMs);
    }

    // "Stop after" 1: once one charger has completed, no other is started;
    // the station says so and ends by itself when its runs have ended.
    void stopsAfterTheCount() {
        const QString file = Seal();
        const auto charger =
            Charger("serial", "COM201.json",
                    {"--serial-number", "SA000001", "--save", Dir().string() + "/a.bin"});
        QVERIFY(charger);
        StationWindow window(file);
        window.show();
        window.findChild<QSpinBox*>(QStringLiteral("m_stopAfterSpin"))->setValue(1);
        Button(window, "m_startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), kRunTimeoutMs);
        QCOMPARE(LabelText(window, "m_noteText"),
                 QStringLiteral("Count reached: 1 charger upgraded; no charger is started any "
                                "more."));
        QCOMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Start"));
        QCOMPARE(Tally(window), QStringLiteral("Done 1, failed 0, in progress 0, skipped 0"));
        QVERIFY(testing::ReadBytes(Dir() / "a.bin") == m_payload);
        QCOMPARE(History().size(), std::size_t{1});
    }

    // The file is read once, when the path is checked: a file rewritten
    // during the run does not change what is written, the window says so,
    // and Stop and Start take the new one.
    void fileRewrittenDuringTheRun() {
        const QString file = Seal(2048, "V1.02");
        const std::vector<std::uint8_t> shown = m_payload;
        const std::string shownDigest = Sha256HexOfFile(Dir() / "update.bin");
        // Leaves its first enter command unanswered for 2 s: the file is
        // rewritten while its run is on.
        const auto slow = Charger("serial", "COM201.json",
                                  {"--serial-number", "SA000001", "--silent-enter", "1", "--save",
                                   Dir().string() + "/a.bin"});
        QVERIFY(slow);
        StationWindow window(file);
        window.show();
        Button(window, "m_startButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 0, failed 0, in progress 1, skipped 0"),
                                  kRunTimeoutMs);
        Seal(3072, "V1.03");
        QTRY_COMPARE_WITH_TIMEOUT(LabelText(window, "m_noteText"),
                                  QStringLiteral("the file changed on disk; still writing V1.02 "
                                                 "as shown; Stop and Start to take the new one"),
                                  kRunTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 1, failed 0, in progress 0, skipped 0"),
                                  kRunTimeoutMs);
        QVERIFY(testing::ReadBytes(Dir() / "a.bin") == shown);
        QCOMPARE(History().at(0).fileVersion, std::string("V1.02"));
        QCOMPARE(History().at(0).fileSha256, shownDigest);
        QCOMPARE(LabelText(window, "m_versionText"), QStringLiteral("V1.02"));

        Button(window, "m_startButton")->click();
        QVERIFY(!window.Running());
        // Start reads the new file, shows it, and writes it: the charger
        // completed only with the old one.
        Button(window, "m_startButton")->click();
        QCOMPARE(LabelText(window, "m_versionText"), QStringLiteral("V1.03"));
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 1, failed 0, in progress 0, skipped 0"),
                                  kRunTimeoutMs);
        QCOMPARE(History().size(), std::size_t{2});
        QVERIFY(History().at(1).outcome == LedgerOutcome::Completed);
        QCOMPARE(History().at(1).fileVersion, std::string("V1.03"));
        QVERIFY(testing::ReadBytes(Dir() / "a.bin") == m_payload);
        Button(window, "m_startButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), kRunTimeoutMs);
    }

    // The run under way ends after Stop; a charger that arrives meanwhile
    // gets a tile and waits. Start is back once the run has ended.
    void stopLetsTheRunUnderWayEnd() {
        const QString file = Seal();
        const std::string dir = Dir().string();
        // Leaves its first enter command unanswered for 2 s, then completes.
        const auto slow = Charger("serial", "COM201.json",
                                  {"--serial-number", "SA000001", "--silent-enter", "1"});
        QVERIFY(slow);
        StationWindow window(file);
        window.show();
        Button(window, "m_startButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Tally(window),
                                  QStringLiteral("Done 0, failed 0, in progress 1, skipped 0"),
                                  kRunTimeoutMs);
        Button(window, "m_startButton")->click();
        QCOMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Stop"));
        QVERIFY(!Button(window, "m_startButton")->isEnabled());

        const auto late = Charger("hid", "charger1.json",
                                  {"--serial-number", "HB000002", "--save", dir + "/late.bin"});
        QVERIFY(late);
        QTRY_VERIFY_WITH_TIMEOUT(Tiles(window).count("S/N:HB000002") == 1, kRunTimeoutMs);
        QCOMPARE(Tiles(window)["S/N:HB000002"].state, QStringLiteral("waiting"));

        QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), kRunTimeoutMs);
        QCOMPARE(ButtonText(window, "m_startButton"), QStringLiteral("Start"));
        QVERIFY(Button(window, "m_startButton")->isEnabled());
        QCOMPARE(Tally(window), QStringLiteral("Done 1, failed 0, in progress 0, skipped 0"));
        QCOMPARE(Tiles(window)["S/N:SA000001"].state, QStringLiteral("done"));
        QCOMPARE(Tiles(window)["S/N:HB000002"].state, QStringLiteral("waiting"));
        QCOMPARE(History().size(), std::size_t{1});
        QVERIFY(!std::filesystem::exists(Dir() / "late.bin"));
    }

    // While a run is on, closing the window is refused; destroying it waits
    // for the run, whose calls to the window are only posted, so that the
    // run ends and its history line is written.
    void closingWaitsForTheRuns() {
        const QString file = Seal();
        const auto slow = Charger("serial", "COM201.json",
                                  {"--serial-number", "SA000001", "--silent-enter", "1", "--save",
                                   Dir().string() + "/a.bin"});
        QVERIFY(slow);
        auto window = std::make_unique<StationWindow>(file);
        window->show();
        Button(*window, "m_startButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Tally(*window),
                                  QStringLiteral("Done 0, failed 0, in progress 1, skipped 0"),
                                  kRunTimeoutMs);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY(LabelText(*window, "m_noteText").startsWith("Chargers are being upgraded"));

        window.reset();
        const std::vector<LedgerEntry> history = History();
        QCOMPARE(history.size(), std::size_t{1});
        QVERIFY(history[0].outcome == LedgerOutcome::Completed);
        QVERIFY(testing::ReadBytes(Dir() / "a.bin") == m_payload);
    }

    // The program is asked to end during a run: the run gets its
    // interrupted line at once, and when it ends after all nothing more is
    // written for it.
    void endingRequestRecordsTheRunUnderWay() {
        const QString file = Seal();
        const auto slow = Charger("serial", "COM201.json",
                                  {"--serial-number", "SA000001", "--silent-enter", "1"});
        QVERIFY(slow);
        auto window = std::make_unique<StationWindow>(file);
        window->show();
        QCOMPARE(window->CloseRunsForExit().runs, 0);  // nothing started yet
        Button(*window, "m_startButton")->click();
        // Its started line is in, with no outcome yet.
        QTRY_VERIFY_WITH_TIMEOUT(
            History().size() == 1 && History()[0].message == kNoOutcomeRecorded, kRunTimeoutMs);

        const ClosedRuns closed = window->CloseRunsForExit();
        QCOMPARE(closed.runs, 1);
        std::vector<LedgerEntry> history = History();
        QCOMPARE(history.size(), std::size_t{1});
        QVERIFY(history[0].outcome == LedgerOutcome::Interrupted);
        QCOMPARE(history[0].message, std::string(kInterruptedRunMessage));
        QCOMPARE(history[0].serialNumber, std::string("SA000001"));

        window.reset();  // waits for the run
        history = History();
        QCOMPARE(history.size(), std::size_t{1});
        QVERIFY(history[0].outcome == LedgerOutcome::Interrupted);
        QCOMPARE(history[0].message, std::string(kInterruptedRunMessage));
    }
};

}  // namespace velmorin

QTEST_MAIN(velmorin::StationWindowTest)
#include "station_window_test.moc"
