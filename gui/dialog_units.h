// SPDX-License-Identifier: MIT
// Dialog units: a dialog template's positions in quarters of the font's
// average character width and eighths of its height, so that a window laid
// out in them keeps its proportions with any font.
#pragma once

#include <QRect>

class QFont;
class QWidget;

namespace velmorin {

// Converts a rectangle in dialog units to pixels for `font`.
QRect DialogUnitsToPixels(const QRect& units, const QFont& font);

// Treats the geometry of `dialog` and of each of its direct children as
// dialog units and converts it with the dialog's font. One-line texts grow
// to fit their font. From then on every shown control keeps the right margin
// of the template (at most 10 units): when a control grows (now, or later
// when a text it fits itself to changes), the window grows with it. The
// window never becomes narrower than the template.
void ApplyDialogUnits(QWidget& dialog);

}  // namespace velmorin
