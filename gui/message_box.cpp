// SPDX-License-Identifier: MIT
#include "gui/message_box.h"

#include <QMessageBox>

namespace velmorin {

void ShowModalMessageBox(QWidget* parent, const QString& text, const QString& caption,
                         MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Error         ? QMessageBox::Critical
                    : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                       : QMessageBox::NoIcon,
                    caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace velmorin
