// SPDX-License-Identifier: MIT
// The download dialog: the catalogue's update files in a list, where to save
// the chosen one, and its download, whose path then goes to the main
// dialog's path field.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class DownloadDialog;
}

namespace velmorin {

class CDownLoad : public QDialog {
    Q_OBJECT

public:
    // `deliverPath` receives the saved file's path after a successful
    // download. Loads the catalogue fetched just before (and deletes it).
    CDownLoad(QWidget* parent, std::function<void(const QString&)> deliverPath);
    ~CDownLoad() override;

    Ui::DownloadDialog& Controls() { return *m_ui; }

    // Replaceable for tests: the save-as chooser (given the proposed plain
    // name, the one the "Save as" box takes for the row; nothing when
    // cancelled) and the message boxes.
    using SaveChooser = std::function<std::optional<QString>(const QString& proposedName)>;
    void SetSaveChooser(SaveChooser chooser) { m_chooseSaveFile = std::move(chooser); }
    using MessageBoxHandler = std::function<void(const QString& text)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) { m_messageBox = std::move(handler); }

public slots:
    void OnItemChanged();
    void OnBrowse();
    void OnDownload();

private:
    int SelectedRow() const;
    // The selected row's file name as a plain name with ".bin", in this
    // directory; empty without a row or a name.
    QString ProposedName() const;

    std::unique_ptr<Ui::DownloadDialog> m_ui;
    std::function<void(const QString&)> m_deliverPath;
    SaveChooser m_chooseSaveFile;
    MessageBoxHandler m_messageBox;
};

// The Download... button: fetches the catalogue (reporting a failure in a
// box through `report`) and runs the download dialog.
void OpenDownloadDialog(QWidget* owner, const std::function<void(const QString&)>& deliverPath,
                        const std::function<void(const QString&)>& report,
                        const std::function<void(CDownLoad&)>& beforeRun = {});

}  // namespace velmorin
