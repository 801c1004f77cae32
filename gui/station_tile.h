// SPDX-License-Identifier: MIT
// One charger at the station window: its label (slot or device name), serial
// number (or that it has none), transfer progress, state and last message,
// on a background tinted by its state. It shows a StationCharger record as the station gave it.
#pragma once

#include <QFrame>

#include "session/station.h"

class QLabel;
class QProgressBar;

namespace velmorin {

class StationTile : public QFrame {
    Q_OBJECT

public:
    explicit StationTile(QWidget* parent = nullptr);

    void Show(const StationCharger& charger);
    StationState State() const { return m_state; }

private:
    void Tint(StationState state);

    QLabel* m_labelText;
    QLabel* m_serialText;
    QProgressBar* m_progress;
    QLabel* m_stateText;
    QLabel* m_detailText;
    StationState m_state = StationState::Waiting;
};

}  // namespace velmorin
