// SPDX-License-Identifier: MIT
// The auto-sizing list.
#include "gui/controls/release_list.h"

#include <QHeaderView>

namespace velmorin {

ReleaseList::ReleaseList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);  // whole rows
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
}

}  // namespace velmorin
