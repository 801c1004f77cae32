// SPDX-License-Identifier: MIT
// The program's pictures, drawn from their SVG sources in the resources.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace velmorin {

// ":/velmorin/charger.svg" (the dialogs' picture) and ":/velmorin/velmorin.svg" (the icon).
QPixmap RenderPicture(const QString& resource, QSize size);

}  // namespace velmorin
