// SPDX-License-Identifier: MIT
// Dialog units to pixels, and the window's width following controls that grow.
#include "gui/dialog_units.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

namespace velmorin {
namespace {

// A control keeps the right margin the template gave it, but no more than
// this: a control away from the right edge may grow into the free space
// beside it without widening the window.
constexpr int kMaxKeptMarginUnits = 10;

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

// Widens the dialog whenever one of its shown controls, moved, resized,
// shown or hidden, would come closer to the right edge than its kept
// margin; narrows it again, down to the template's width, when such a
// control shrinks or hides. Owned by the dialog.
class RightMarginKeeper : public QObject {
public:
    RightMarginKeeper(QWidget& dialog, int templateWidth)
        : QObject(&dialog), m_dialog(dialog), m_templateWidth(templateWidth) {}

    void Watch(QWidget& control, int rightMargin) {
        m_margins.emplace_back(&control, rightMargin);
        control.installEventFilter(this);
    }

    void FitWidth() {
        int width = m_templateWidth;
        for (const auto& [control, margin] : m_margins) {
            if (control != nullptr && !control->isHidden()) {
                width = std::max(width, control->geometry().x() + control->width() + margin);
            }
        }
        if (width != m_dialog.width() || m_dialog.minimumWidth() != width) {
            m_dialog.setFixedWidth(width);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Explicit show and hide of the control itself, not of the window.
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
            FitWidth();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget& m_dialog;
    int m_templateWidth;
    std::vector<std::pair<QPointer<QWidget>, int>> m_margins;
};

}  // namespace

QRect DialogUnitsToPixels(const QRect& units, const QFont& font) {
    const BaseUnits base = BaseUnitsOf(font);
    return {units.x() * base.x / 4, units.y() * base.y / 8, units.width() * base.x / 4,
            units.height() * base.y / 8};
}

void ApplyDialogUnits(QWidget& dialog) {
    const QRect size = DialogUnitsToPixels(QRect(QPoint(0, 0), dialog.size()), dialog.font());
    auto* keeper = new RightMarginKeeper(dialog, size.width());
    for (QObject* child : dialog.children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr || widget->isWindow()) {
            continue;
        }
        const QRect units = widget->geometry();
        QRect area = DialogUnitsToPixels(units, dialog.font());
        // The gap the template leaves between the control and the right edge.
        const int marginUnits =
            std::clamp(dialog.width() - units.x() - units.width(), 0, kMaxKeptMarginUnits);
        const int rightMargin =
            DialogUnitsToPixels(QRect(0, 0, marginUnits, 0), dialog.font()).width();
        // A font wider than the one the template was drawn for would cut
        // one-line texts short: their controls grow to fit them.
        const auto* label = qobject_cast<QLabel*>(widget);
        if ((label != nullptr && !label->wordWrap()) ||
            qobject_cast<QCheckBox*>(widget) != nullptr) {
            area.setWidth(std::max(area.width(), widget->sizeHint().width()));
        }
        widget->setGeometry(area);
        keeper->Watch(*widget, rightMargin);
    }
    dialog.setFixedSize(size.size());
    keeper->FitWidth();
}

}  // namespace velmorin
