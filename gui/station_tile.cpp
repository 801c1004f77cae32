// SPDX-License-Identifier: MIT
// A charger's tile at the station window.
#include "gui/station_tile.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace velmorin {
namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// `base` moved a little towards `tint`: enough to tell the states apart at
// a glance, little enough to keep the texts readable in light and dark
// themes.
QColor Blend(const QColor& base, const QColor& tint, double share) {
    const auto mix = [share](int from, int to) {
        return static_cast<int>(from + (to - from) * share);
    };
    return QColor(mix(base.red(), tint.red()), mix(base.green(), tint.green()),
                  mix(base.blue(), tint.blue()));
}

}  // namespace

StationTile::StationTile(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setMinimumWidth(220);
    auto* layout = new QVBoxLayout(this);
    m_labelText = new QLabel(this);
    m_labelText->setObjectName(QStringLiteral("m_labelText"));
    QFont bold = m_labelText->font();
    bold.setBold(true);
    m_labelText->setFont(bold);
    m_serialText = new QLabel(this);
    m_serialText->setObjectName(QStringLiteral("m_serialText"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("m_progress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_stateText = new QLabel(this);
    m_stateText->setObjectName(QStringLiteral("m_stateText"));
    m_detailText = new QLabel(this);
    m_detailText->setObjectName(QStringLiteral("m_detailText"));
    m_detailText->setWordWrap(true);
    for (QLabel* label : {m_labelText, m_serialText, m_stateText, m_detailText}) {
        // Names, serial numbers and messages come from devices and files:
        // shown as they stand, never as markup.
        label->setTextFormat(Qt::PlainText);
    }
    layout->addWidget(m_labelText);
    layout->addWidget(m_serialText);
    layout->addWidget(m_progress);
    layout->addWidget(m_stateText);
    layout->addWidget(m_detailText);
    layout->addStretch();
    Tint(m_state);
}

void StationTile::Show(const StationCharger& charger) {
    m_labelText->setText(ToQString(charger.label));
    // A charger without a serial number cannot be told from the next one put
    // in its place: the tile says so.
    m_serialText->setText(charger.device.serialText.empty()
                              ? QStringLiteral("no serial number")
                              : QStringLiteral("S/N:") + ToQString(charger.device.serialText));
    setToolTip(ToQString(charger.device.modelText));
    if (charger.maximum > 0) {
        m_progress->setRange(0, charger.maximum);
        m_progress->setValue(charger.position);
    } else {
        m_progress->setRange(0, 1);
        m_progress->setValue(charger.state == StationState::Done ? 1 : 0);
    }
    QString state = ToQString(StationStateName(charger.state));
    if (!charger.present) {
        state += QStringLiteral(" (away)");
    }
    m_stateText->setText(state);
    // While a run is on, its step; afterwards how it ended, or why the
    // charger is not started (another model, done before, busy elsewhere).
    m_detailText->setText(
        ToQString(charger.state == StationState::Upgrading ? charger.step : charger.message));
    if (charger.state != m_state) {
        m_state = charger.state;
        Tint(m_state);
    }
}

void StationTile::Tint(StationState state) {
    // The theme's own colour, not the tile's (which holds the last tint).
    const QColor base = QApplication::palette(this).color(QPalette::Window);
    QColor tinted = base;
    switch (state) {
    case StationState::Waiting:
        break;
    case StationState::Upgrading:
        tinted = Blend(base, QColor(0x3B, 0x82, 0xF6), 0.15);
        break;
    case StationState::Done:
        tinted = Blend(base, QColor(0x22, 0xC5, 0x5E), 0.22);
        break;
    case StationState::Failed:
        tinted = Blend(base, QColor(0xEF, 0x44, 0x44), 0.22);
        break;
    case StationState::Skipped:
        tinted = Blend(base, QColor(0x80, 0x80, 0x80), 0.15);
        break;
    case StationState::BusyElsewhere:
        tinted = Blend(base, QColor(0xF5, 0x9E, 0x0B), 0.18);
        break;
    }
    QPalette tilePalette = palette();
    tilePalette.setColor(QPalette::Window, tinted);
    setPalette(tilePalette);
}

}  // namespace velmorin
