// SPDX-License-Identifier: MIT
// A report-style list whose last column always fills the width that the
// other columns leave free, after a resize and after a column divider is
// dragged (the header's stretching of its last section does exactly this).
#pragma once

#include <QTreeWidget>

namespace velmorin {

class ReleaseList : public QTreeWidget {
    Q_OBJECT

public:
    explicit ReleaseList(QWidget* parent = nullptr);
};

}  // namespace velmorin
