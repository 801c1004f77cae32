// SPDX-License-Identifier: MIT
// The station window: the production line's view of a Station. The operator
// picks the update file (read, checked and described once; Start hands those
// very bytes to the station), optionally a model, a slots file, a count to
// stop after and whether chargers done before are upgraded again, and
// presses Start; each charger that arrives gets a tile with its progress and
// state, and a tally counts them. What is started when is the Station's
// business: the window shows what the station tells it and forwards the
// buttons. The runs' calls come from their own threads and reach the window
// as queued calls; the history is exported on a thread of its own.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "image/file_info_display.h"
#include "session/station.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace velmorin {

class StationTile;

class StationWindow : public QWidget {
    Q_OBJECT

public:
    // `filePath`: the update file to show at once (from the command line);
    // empty for none.
    explicit StationWindow(const QString& filePath = {}, QWidget* parent = nullptr);
    // Waits for the runs under way, and for an export told to stop; they end
    // without the window's help, as their calls to it are only posted.
    ~StationWindow() override;

    // A station is on: started, and not every run has ended since Stop.
    bool Running() const { return m_session != nullptr; }
    // An export of the history is under way.
    bool Exporting() const { return m_exportThread.joinable(); }

    // The program is asked to end: the runs under way get their interrupted
    // lines in the history, with how far they got, and no run begins or
    // ends on record after. Returns what was closed.
    ClosedRuns CloseRunsForExit();

    // Message boxes go here instead of on the screen (tests record them).
    using MessageBoxHandler =
        std::function<void(const QString& text, const QString& caption, MessageIcon icon)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) {
        m_messageBoxHandler = std::move(handler);
    }

public slots:
    void OnBrowse();
    void OnSlots();
    void OnStartStop();
    void OnExportHistory();

protected:
    // Closing is refused while runs are under way.
    void closeEvent(QCloseEvent* event) override;

private:
    struct Session;

    void CheckFile();
    void Scan();
    void ShowCharger(std::uint64_t session, const StationCharger& charger,
                     const StationTally& tally);
    void ShowTally(const StationTally& tally);
    void ShowNote(const QString& text);
    void EndSessionWhenRunsEnded();
    void UpdateControls();
    void ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon);
    void ExportHistory(std::filesystem::path history, QString target, bool jsonLines);
    void ShowExportProgress(std::uint64_t runs);
    void EndExport(const QString& error, std::uint64_t runs, const QString& fileName,
                   const QString& warnings);

    QLineEdit* m_pathEdit;
    QPushButton* m_browseButton;
    QLabel* m_versionText;
    QLabel* m_typeText;
    QLabel* m_memoText;
    QLabel* m_fileMessage;
    QLineEdit* m_modelEdit;
    QPushButton* m_slotsButton;
    QLabel* m_slotsText;
    QSpinBox* m_stopAfterSpin;
    QCheckBox* m_againCheck;
    QPushButton* m_startButton;
    QPushButton* m_exportButton;
    QLabel* m_tallyText;
    QLabel* m_noteText;
    QGridLayout* m_tileGrid;

    // The file as the path field names it, read once: shown, and sent by
    // the station that Start begins. Null while the field is empty.
    std::shared_ptr<const PinnedFile> m_file;
    bool m_fileAccepted = false;
    SlotNames m_slots;
    std::map<int, StationTile*> m_tiles;  // by the station's record number
    MessageBoxHandler m_messageBoxHandler;
    // The sessions started so far: a queued call of an ended one is dropped.
    std::uint64_t m_sessions = 0;
    bool m_stopping = false;
    // The export under way, and the window's end telling it to stop.
    std::thread m_exportThread;
    std::atomic<bool> m_exportCancelled{false};
    // Last: its runs post to the members above until it is destroyed.
    std::unique_ptr<Session> m_session;
};

}  // namespace velmorin
