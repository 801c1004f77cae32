// SPDX-License-Identifier: MIT
// Dialog units to pixels.
#include "app/dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

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
        if (auto* widget = qobject_cast<QWidget*>(child);
            widget != nullptr && !widget->isWindow()) {
            widget->setGeometry(DialogUnitsToPixels(widget->geometry(), dialog.font()));
        }
    }
    const QRect size = DialogUnitsToPixels(QRect(QPoint(0, 0), dialog.size()), dialog.font());
    dialog.setFixedSize(size.size());
}

}  // namespace velmorin
