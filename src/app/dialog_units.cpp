// SPDX-License-Identifier: MIT
// Dialog units to pixels.
#include "app/dialog_units.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>
#include <algorithm>

namespace velmorin {
namespace {

struct BaseUnits {
    int x;
    int y;
};

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // The average width of the letters, rounded as the dialog manager does.
    const int x = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    return {x, metrics.height()};
}

}  // namespace

QRect DialogUnitsToPixels(const QRect& units, const QFont& font) {
    const BaseUnits base = BaseUnitsOf(font);
    return {units.x() * base.x / 4, units.y() * base.y / 8, units.width() * base.x / 4,
            units.height() * base.y / 8};
}

void ApplyDialogUnits(QWidget& dialog) {
    for (QObject* child : dialog.children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr || widget->isWindow()) {
            continue;
        }
        QRect area = DialogUnitsToPixels(widget->geometry(), dialog.font());
        // A font wider than the one the template was drawn for would cut
        // one-line texts short: their controls grow to fit them.
        const auto* label = qobject_cast<QLabel*>(widget);
        if ((label != nullptr && !label->wordWrap()) ||
            qobject_cast<QCheckBox*>(widget) != nullptr) {
            area.setWidth(std::max(area.width(), widget->sizeHint().width()));
        }
        widget->setGeometry(area);
    }
    const QRect size = DialogUnitsToPixels(QRect(QPoint(0, 0), dialog.size()), dialog.font());
    dialog.setFixedSize(size.size());
}

}  // namespace velmorin
