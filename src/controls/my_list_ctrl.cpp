// SPDX-License-Identifier: MIT
// The auto-sizing list.
#include "controls/my_list_ctrl.h"

#include <QHeaderView>

namespace velmorin {

CMyListCtrl::CMyListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);  // whole rows
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
}

}  // namespace velmorin
