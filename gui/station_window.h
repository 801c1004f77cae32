// SPDX-License-Identifier: MIT
// The station window: the production line's view of a Station. The operator
// picks the update file (checked as the main dialog checks it), optionally a
// model and a slots file, and presses Start; each charger that arrives gets a
// tile with its progress and state, and a tally counts them. What is started
// when is the Station's business: the window shows what the station tells it
// and forwards the buttons. The runs' calls come from their own threads and
// reach the window as queued calls.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/file_info_display.h"
#include "session/station.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmorin {

class StationTile;

class StationWindow : public QWidget {
    Q_OBJECT

public:
    // `filePath`: the update file to show at once (from the command line);
    // empty for none.
    explicit StationWindow(const QString& filePath = {}, QWidget* parent = nullptr);
    // Waits for the runs under way; they end without the window's help, as
    // their calls to it are only posted.
    ~StationWindow() override;

    // A station is on: started, and not every run has ended since Stop.
    bool Running() const { return m_session != nullptr; }

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

    QLineEdit* m_pathEdit;
    QPushButton* m_browseButton;
    QLabel* m_versionText;
    QLabel* m_typeText;
    QLabel* m_memoText;
    QLabel* m_fileMessage;
    QLineEdit* m_modelEdit;
    QPushButton* m_slotsButton;
    QLabel* m_slotsText;
    QPushButton* m_startButton;
    QPushButton* m_exportButton;
    QLabel* m_tallyText;
    QLabel* m_noteText;
    QGridLayout* m_tileGrid;

    bool m_fileAccepted = false;
    SlotNames m_slots;
    // The chargers done at this window with the file of this digest.
    std::vector<std::string> m_doneBefore;
    std::string m_doneDigest;
    std::map<std::string, StationTile*> m_tiles;  // by the station's key
    MessageBoxHandler m_messageBoxHandler;
    // The sessions started so far: a queued call of an ended one is dropped.
    std::uint64_t m_sessions = 0;
    bool m_stopping = false;
    // Last: its runs post to the members above until it is destroyed.
    std::unique_ptr<Session> m_session;
};

}  // namespace velmorin
