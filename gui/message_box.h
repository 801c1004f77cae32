// SPDX-License-Identifier: MIT
// The windows' modal message box: the text shown as it is (never as rich
// text), with the icon the core asks for and one OK button.
#pragma once

#include <QString>

#include "image/file_info_display.h"

class QWidget;

namespace velmorin {

// Shows `text` under `caption` over `parent` and returns when it is closed.
void ShowModalMessageBox(QWidget* parent, const QString& text, const QString& caption,
                         MessageIcon icon);

}  // namespace velmorin
