// SPDX-License-Identifier: MIT
// The station window on Qt Widgets.
#include "gui/station_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <string_view>
#include <utility>

#include "device/device_watcher.h"
#include "gui/ending_requests.h"
#include "gui/message_box.h"
#include "gui/pictures.h"
#include "gui/station_tile.h"
#include "image/file_path.h"
#include "session/charger_batch.h"
#include "session/ledger.h"
#include "session/upgrade_record.h"

namespace velmorin {
namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The one filter of the update file chooser, as the main dialog has it.
constexpr char kUpdateFileFilter[] = "Kestrion Update File(*.bin)";
constexpr char kCsvFilter[] = "CSV (*.csv)";
constexpr char kJsonLinesFilter[] = "JSON lines (*.jsonl)";
// The station looks at the devices this often, besides each device change.
constexpr int kScanIntervalMs = 200;
// Tiles per row of the grid.
constexpr int kTileColumns = 4;
// The export tells how far it has got after this many runs.
constexpr std::uint64_t kExportProgressEvery = 500;

// "1 upgrade", "2 upgrades".
QString Count(std::uint64_t count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

}  // namespace

// One press of Start to the end of its runs: the device table and the
// station over it. The station's calls, from the runs' threads and from
// Scan, are posted to the window with a copy of the record and the tally as
// they stood, so that a run never waits for the window's thread.
struct StationWindow::Session final : StationListener {
    Session(StationSettings settings, StationWindow& owner, std::uint64_t number)
        : window(owner),
          id(number),
          journal(DefaultLedgerPath()),
          station(std::move(settings), devices, *this, journal) {}

    void OnChargerChanged(const StationCharger& charger, StationChange change) override {
        // The station's lock is held (and recursive): the tally matches the record.
        Post([session = id, charger, tally = station.Tally()](StationWindow& target) {
            target.ShowCharger(session, charger, tally);
        });
        if (change != StationChange::Finished || !charger.lastResult ||
            charger.lastResult->ledgerError.empty()) {
            return;
        }
        Post([note = ToQString(charger.lastResult->ledgerError)](StationWindow& target) {
            target.ShowNote(note);
        });
    }
    void OnNotice(std::string_view text) override {
        Post([note = ToQString(text)](StationWindow& target) { target.ShowNote(note); });
    }

    void Post(std::function<void(StationWindow&)> work) {
        StationWindow* target = &window;
        QMetaObject::invokeMethod(
            target, [target, work = std::move(work)] { work(*target); }, Qt::QueuedConnection);
    }

    StationWindow& window;
    std::uint64_t id;
    LiveDeviceTable devices{false};
    // Rings when the devices change, so that the station scans at once
    // rather than at its next tick.
    DeviceWatcher doorbell;
    std::unique_ptr<QSocketNotifier> doorbellNotifier;
    RunJournal journal;
    // Last: its destructor waits for the runs, whose calls reach the members above.
    Station station;
};

StationWindow::StationWindow(const QString& filePath, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("StationWindow"));
    setWindowTitle(QStringLiteral("Kestrion Firmware Update - Station"));
    setWindowIcon(QIcon(RenderPicture(QStringLiteral(":/velmorin/velmorin.svg"), QSize(64, 64))));

    auto* fileGroup = new QGroupBox(QStringLiteral("Select Update File"), this);
    m_pathEdit = new QLineEdit(fileGroup);
    m_pathEdit->setObjectName(QStringLiteral("m_pathEdit"));
    m_browseButton = new QPushButton(QStringLiteral("&Browse..."), fileGroup);
    m_browseButton->setObjectName(QStringLiteral("m_browseButton"));
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_pathEdit, 1);
    pathRow->addWidget(m_browseButton);
    m_versionText = new QLabel(fileGroup);
    m_versionText->setObjectName(QStringLiteral("m_versionText"));
    m_typeText = new QLabel(fileGroup);
    m_typeText->setObjectName(QStringLiteral("m_typeText"));
    m_memoText = new QLabel(fileGroup);
    m_memoText->setObjectName(QStringLiteral("m_memoText"));
    m_fileMessage = new QLabel(fileGroup);
    m_fileMessage->setObjectName(QStringLiteral("m_fileMessage"));
    auto* fileLayout = new QFormLayout(fileGroup);
    fileLayout->addRow(pathRow);
    fileLayout->addRow(QStringLiteral("Version:"), m_versionText);
    fileLayout->addRow(QStringLiteral("Type:"), m_typeText);
    fileLayout->addRow(QStringLiteral("Memo:"), m_memoText);
    fileLayout->addRow(m_fileMessage);

    m_modelEdit = new QLineEdit(this);
    m_modelEdit->setObjectName(QStringLiteral("m_modelEdit"));
    m_modelEdit->setPlaceholderText(QStringLiteral("every model"));
    m_slotsButton = new QPushButton(QStringLiteral("&Slots..."), this);
    m_slotsButton->setObjectName(QStringLiteral("m_slotsButton"));
    m_slotsText = new QLabel(QStringLiteral("no slot names"), this);
    m_slotsText->setObjectName(QStringLiteral("m_slotsText"));
    m_stopAfterSpin = new QSpinBox(this);
    m_stopAfterSpin->setObjectName(QStringLiteral("m_stopAfterSpin"));
    m_stopAfterSpin->setRange(0, 99999);
    m_stopAfterSpin->setSpecialValueText(QStringLiteral("never"));
    m_stopAfterSpin->setSuffix(QStringLiteral(" chargers"));
    m_stopAfterSpin->setToolTip(
        QStringLiteral("No charger is started once this many have completed; never for 0"));
    m_againCheck = new QCheckBox(QStringLiteral("&Upgrade chargers done before"), this);
    m_againCheck->setObjectName(QStringLiteral("m_againCheck"));
    m_againCheck->setToolTip(QStringLiteral(
        "Chargers that the history shows completed with this file are upgraded again"));
    m_startButton = new QPushButton(QStringLiteral("S&tart"), this);
    m_startButton->setObjectName(QStringLiteral("m_startButton"));
    m_exportButton = new QPushButton(QStringLiteral("&Export history..."), this);
    m_exportButton->setObjectName(QStringLiteral("m_exportButton"));
    auto* settingsRow = new QHBoxLayout;
    settingsRow->addWidget(new QLabel(QStringLiteral("Model:"), this));
    settingsRow->addWidget(m_modelEdit);
    settingsRow->addWidget(m_slotsButton);
    settingsRow->addWidget(m_slotsText, 1);
    settingsRow->addWidget(m_exportButton);
    settingsRow->addWidget(m_startButton);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel(QStringLiteral("Stop after:"), this));
    countRow->addWidget(m_stopAfterSpin);
    countRow->addWidget(m_againCheck);
    countRow->addStretch(1);

    // The grid's rows as tall as their tiles, at the top of the area.
    auto* tiles = new QWidget;
    auto* tilesLayout = new QVBoxLayout(tiles);
    m_tileGrid = new QGridLayout;
    m_tileGrid->setAlignment(Qt::AlignLeft);
    tilesLayout->addLayout(m_tileGrid);
    tilesLayout->addStretch();
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(tiles);

    m_tallyText = new QLabel(this);
    m_tallyText->setObjectName(QStringLiteral("m_tallyText"));
    m_noteText = new QLabel(this);
    m_noteText->setObjectName(QStringLiteral("m_noteText"));
    m_noteText->setWordWrap(true);
    for (QLabel* label : findChildren<QLabel*>()) {
        // Versions, types, memos, reasons and file names come from files and
        // devices: shown as they stand, never as markup.
        label->setTextFormat(Qt::PlainText);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileGroup);
    layout->addLayout(settingsRow);
    layout->addLayout(countRow);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_tallyText);
    layout->addWidget(m_noteText);
    resize(980, 560);

    auto* scanTimer = new QTimer(this);
    scanTimer->setInterval(kScanIntervalMs);
    connect(scanTimer, &QTimer::timeout, this, &StationWindow::Scan);
    scanTimer->start();

    connect(m_pathEdit, &QLineEdit::textChanged, this, &StationWindow::CheckFile);
    connect(m_browseButton, &QPushButton::clicked, this, &StationWindow::OnBrowse);
    connect(m_slotsButton, &QPushButton::clicked, this, &StationWindow::OnSlots);
    connect(m_startButton, &QPushButton::clicked, this, &StationWindow::OnStartStop);
    connect(m_exportButton, &QPushButton::clicked, this, &StationWindow::OnExportHistory);

    ShowTally({});
    m_pathEdit->setText(filePath);
    CheckFile();
}

StationWindow::~StationWindow() {
    // An export stops at its next run and leaves no file; the station waits
    // for its runs here. Their queued calls to this window are dropped with
    // it.
    m_exportCancelled = true;
    if (m_exportThread.joinable()) {
        m_exportThread.join();
    }
    m_session.reset();
}

ClosedRuns StationWindow::CloseRunsForExit() {
    return m_session != nullptr ? m_session->journal.CloseAll(kInterruptedRunMessage)
                                : ClosedRuns{};
}

void StationWindow::CheckFile() {
    const std::string path = QFile::encodeName(m_pathEdit->text()).toStdString();
    // Read, checked and hashed here once: what is shown is what Start sends.
    m_file = path.empty() ? nullptr : std::make_shared<const PinnedFile>(path);
    m_fileAccepted = m_file != nullptr && m_file->Accepted();
    const UpgradedFile* shown = m_fileAccepted ? &m_file->Description() : nullptr;
    m_versionText->setText(shown != nullptr ? ToQString(shown->version) : QString());
    m_typeText->setText(shown != nullptr ? ToQString(shown->type) : QString());
    m_memoText->setText(shown != nullptr ? ToQString(shown->memo) : QString());
    const std::string reason = m_file != nullptr ? m_file->Rejection() : std::string();
    m_fileMessage->setText(ToQString(reason));
    m_fileMessage->setVisible(!reason.empty());
    UpdateControls();
}

void StationWindow::UpdateControls() {
    const bool idle = m_session == nullptr;
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_pathEdit, m_browseButton, m_modelEdit, m_slotsButton,
                                         m_stopAfterSpin, m_againCheck}) {
        control->setEnabled(idle);
    }
    m_startButton->setText(idle ? QStringLiteral("S&tart") : QStringLiteral("S&top"));
    m_startButton->setEnabled(idle ? m_fileAccepted : !m_stopping);
}

void StationWindow::OnBrowse() {
    QFileDialog chooser(this, QString(), QString(), QString::fromLatin1(kUpdateFileFilter));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setDefaultSuffix(QStringLiteral("bin"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    m_pathEdit->setText(chooser.selectedFiles().front());
}

void StationWindow::OnSlots() {
    QFileDialog chooser(this, QStringLiteral("Slot names"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    const QString chosen = chooser.selectedFiles().front();
    std::string error;
    auto names = SlotNames::Read(PathFromText(QFile::encodeName(chosen).toStdString()), error);
    if (!names) {
        ShowMessageBox(ToQString(error), ToQString(kCaptionError), MessageIcon::Error);
        return;
    }
    m_slots = std::move(*names);
    m_slotsText->setText(QFileInfo(chosen).fileName());
}

void StationWindow::OnStartStop() {
    if (m_session != nullptr) {
        m_stopping = true;
        m_session->station.StopStarting();
        EndSessionWhenRunsEnded();
        UpdateControls();
        return;
    }
    if (m_file != nullptr && m_file->ChangedOnDisk()) {
        // Rewritten since it was shown: the new bytes are read, checked and
        // shown before anything is sent.
        CheckFile();
    }
    if (!m_fileAccepted) {
        return;
    }
    BatchSettings batch;
    batch.filePath = m_file->Description().path;
    batch.file = m_file;
    StationSettings settings;
    settings.batch = std::move(batch);
    settings.model = m_modelEdit->text().trimmed().toStdString();
    settings.slotNames = m_slots;
    settings.stopAfter = m_stopAfterSpin->value();
    settings.again = m_againCheck->isChecked();
    for (auto& [key, tile] : m_tiles) {
        delete tile;
    }
    m_tiles.clear();
    m_noteText->clear();
    ShowTally({});
    m_stopping = false;
    const bool keepsHistory = !DefaultLedgerPath().empty();
    {
        // The threads the station starts leave the requests to end the
        // program to this one.
        const EndingRequestsKeptFromNewThreads keptFromRuns;
        m_session = std::make_unique<Session>(std::move(settings), *this, ++m_sessions);
    }
    if (m_session->doorbell.Fd() >= 0) {
        m_session->doorbellNotifier =
            std::make_unique<QSocketNotifier>(m_session->doorbell.Fd(), QSocketNotifier::Read);
        connect(m_session->doorbellNotifier.get(), &QSocketNotifier::activated, this, [this] {
            if (m_session != nullptr && m_session->doorbell.ConsumeChanges()) {
                Scan();
            }
        });
    }
    if (!keepsHistory) {
        ShowNote(QStringLiteral("No history is kept: no home folder was found."));
    }
    UpdateControls();
    Scan();
}

void StationWindow::Scan() {
    if (m_session == nullptr) {
        return;
    }
    {
        const EndingRequestsKeptFromNewThreads keptFromRuns;
        m_session->station.Scan();
    }
    const std::string discoveryError = m_session->devices.DiscoveryError();
    if (!discoveryError.empty()) {
        ShowNote(ToQString(discoveryError));
    }
    if (!m_stopping && !m_session->station.Starting()) {
        // The count was reached: the session ends with its last run, as
        // after Stop.
        m_stopping = true;
        UpdateControls();
    }
    if (m_stopping) {
        EndSessionWhenRunsEnded();
    }
}

void StationWindow::EndSessionWhenRunsEnded() {
    // Taken from the station itself: no run can start meanwhile, as only
    // this thread scans.
    if (m_session == nullptr || m_session->station.Tally().inProgress > 0) {
        return;
    }
    // The runs have ended (the last of them is past its final call): the
    // station's wait for them is over at once.
    m_session.reset();
    m_stopping = false;
    UpdateControls();
}

void StationWindow::ShowCharger(std::uint64_t session, const StationCharger& charger,
                                const StationTally& tally) {
    if (m_session == nullptr || session != m_session->id) {
        return;
    }
    StationTile*& tile = m_tiles[charger.id];
    if (tile == nullptr) {
        tile = new StationTile;
        tile->setObjectName(QStringLiteral("tile") + QString::number(m_tiles.size()));
        const int index = static_cast<int>(m_tiles.size()) - 1;
        m_tileGrid->addWidget(tile, index / kTileColumns, index % kTileColumns);
    }
    tile->Show(charger);
    ShowTally(tally);
    if (m_stopping && tally.inProgress == 0) {
        EndSessionWhenRunsEnded();
    }
}

void StationWindow::ShowTally(const StationTally& tally) {
    // The failed runs are told when chargers failed more than once, or
    // failed and then completed.
    const QString failedRuns =
        tally.failedRuns > tally.failed
            ? QStringLiteral(" (%1)").arg(
                  Count(static_cast<std::uint64_t>(tally.failedRuns), "failed run", "failed runs"))
            : QString();
    QString text = QStringLiteral("Done %1, failed %2%3, in progress %4, skipped %5")
                       .arg(tally.done)
                       .arg(tally.failed)
                       .arg(failedRuns)
                       .arg(tally.inProgress)
                       .arg(tally.skipped);
    if (tally.busy > 0) {
        text += QStringLiteral(", busy elsewhere %1").arg(tally.busy);
    }
    m_tallyText->setText(text);
}

void StationWindow::ShowNote(const QString& text) {
    m_noteText->setText(text);
}

void StationWindow::OnExportHistory() {
    if (Exporting()) {
        return;
    }
    QFileDialog chooser(this, QStringLiteral("Export history"), QString(),
                        QString::fromLatin1(kCsvFilter) + QStringLiteral(";;") +
                            QString::fromLatin1(kJsonLinesFilter));
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setDefaultSuffix(QStringLiteral("csv"));
    connect(&chooser, &QFileDialog::filterSelected, &chooser, [&chooser](const QString& filter) {
        chooser.setDefaultSuffix(filter == QString::fromLatin1(kJsonLinesFilter)
                                     ? QStringLiteral("jsonl")
                                     : QStringLiteral("csv"));
    });
    chooser.selectFile(QStringLiteral("history.csv"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return;
    }
    const QString target = chooser.selectedFiles().front();
    const bool jsonLines = target.endsWith(QStringLiteral(".jsonl"), Qt::CaseInsensitive);

    // A long history is read and written on a thread of its own: the
    // window, and the station's tiles, go on meanwhile.
    m_exportButton->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    ShowNote(QStringLiteral("Exporting the history to %1...").arg(QFileInfo(target).fileName()));
    m_exportCancelled = false;
    m_exportThread =
        std::thread(&StationWindow::ExportHistory, this, DefaultLedgerPath(), target, jsonLines);
}

// On the export's thread: reaches the window only through queued calls.
void StationWindow::ExportHistory(std::filesystem::path history, QString target, bool jsonLines) {
    const auto post = [this](std::function<void()> work) {
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    };
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        post([this, error = QStringLiteral("cannot write %1: %2").arg(target, file.errorString())] {
            EndExport(error, 0, {}, {});
        });
        return;
    }
    // CSV rows as the runs come, under one header row.
    const std::string header = jsonLines ? std::string() : LedgerCsv({});
    bool written = file.write(header.data(), static_cast<qint64>(header.size())) ==
                   static_cast<qint64>(header.size());
    std::uint64_t runs = 0;
    std::vector<std::string> warnings;
    const bool read = ForEachLedgerRun(
        history,
        [&](const LedgerEntry& entry) {
            if (!written || m_exportCancelled) {
                return;
            }
            const std::string text =
                jsonLines ? LedgerLine(entry) + "\n" : LedgerCsv({entry}).substr(header.size());
            written = file.write(text.data(), static_cast<qint64>(text.size())) ==
                      static_cast<qint64>(text.size());
            if (++runs % kExportProgressEvery == 0) {
                post([this, runs] { ShowExportProgress(runs); });
            }
        },
        warnings);
    if (m_exportCancelled) {
        return;  // the unfinished file is dropped with `file`
    }
    QString error;
    if (!read) {
        // The history could not be read at all: an empty export would hide it.
        file.cancelWriting();
        error =
            ToQString(warnings.empty() ? std::string("cannot read the history") : warnings.front());
        warnings.clear();
    } else if (!written || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(target, file.errorString());
    }
    QStringList warningTexts;
    for (const std::string& warning : warnings) {
        warningTexts << ToQString(warning);
    }
    post([this, error, runs, name = QFileInfo(target).fileName(),
          note = warningTexts.join(QStringLiteral("; "))] { EndExport(error, runs, name, note); });
}

void StationWindow::ShowExportProgress(std::uint64_t runs) {
    if (Exporting()) {
        ShowNote(QStringLiteral("Exporting the history: %1 so far...")
                     .arg(Count(runs, "upgrade", "upgrades")));
    }
}

void StationWindow::EndExport(const QString& error, std::uint64_t runs, const QString& fileName,
                              const QString& warnings) {
    // The thread has posted its last call: it is ending by now.
    m_exportThread.join();
    QApplication::restoreOverrideCursor();
    m_exportButton->setEnabled(true);
    if (!error.isEmpty()) {
        ShowNote(QString());
        ShowMessageBox(error, ToQString(kCaptionError), MessageIcon::Error);
        return;
    }
    QString note =
        QStringLiteral("%1 exported to %2").arg(Count(runs, "upgrade", "upgrades"), fileName);
    if (!warnings.isEmpty()) {
        note += QStringLiteral("; ") + warnings;
    }
    ShowNote(note);
}

void StationWindow::ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon) {
    if (m_messageBoxHandler) {
        m_messageBoxHandler(text, caption, icon);
        return;
    }
    ShowModalMessageBox(this, text, caption, icon);
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (m_session != nullptr && m_session->station.Tally().inProgress > 0) {
        // A closed window would leave the chargers under way unwatched.
        ShowNote(QStringLiteral(
            "Chargers are being upgraded: press Stop and close the window when they have ended."));
        event->ignore();
        return;
    }
    m_session.reset();
    m_stopping = false;
    QWidget::closeEvent(event);
}

}  // namespace velmorin
