// SPDX-License-Identifier: MIT
// Rendering the SVG pictures.
#include "gui/pictures.h"

#include <QPainter>
#include <QSvgRenderer>

// The pictures live in a static library, whose resources are not registered
// on their own.
static void RegisterResources() {
    Q_INIT_RESOURCE(resources);
}

namespace velmorin {

QPixmap RenderPicture(const QString& resource, QSize size) {
    RegisterResources();
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace velmorin
