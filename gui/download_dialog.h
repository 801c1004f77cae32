// SPDX-License-Identifier: MIT
// The download dialog on Qt Widgets: a view of the download flow. The
// catalogue's update files in a list, where to save the chosen one, and its
// download, whose path then goes to the main window.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "session/download_flow.h"

namespace Ui {
class DownloadDialog;
}

namespace velmorin {

class DownloadDialog : public QDialog, private DownloadView {
    Q_OBJECT

public:
    // `deliverPath` receives the saved file's path after a successful
    // download (or the refused bytes' path after a refused one).
    DownloadDialog(QWidget* parent, CatalogueContents contents,
                   DownloadFlow::DeliverPath deliverPath);
    ~DownloadDialog() override;

    Ui::DownloadDialog& Controls() { return *m_ui; }

    // Replaceable for tests: the save-as chooser (given the proposed plain
    // name, the one the "Save as" box takes for the row; nothing when
    // cancelled) and the message boxes.
    using SaveChooser = std::function<std::optional<QString>(const QString& proposedName)>;
    void SetSaveChooser(SaveChooser chooser) { m_chooseSaveFile = std::move(chooser); }
    using MessageBoxHandler = std::function<void(const QString& text)>;
    void SetMessageBoxHandler(MessageBoxHandler handler) { m_messageBox = std::move(handler); }

private:
    // DownloadView
    void SetRows(const std::vector<std::vector<std::string>>& rows) override;
    void SelectRow(int row) override;
    int SelectedRow() override;
    std::string SaveAsText() override;
    void SetSaveAsText(const std::string& text) override;
    void ShowReleaseLink(const std::optional<std::string>& caption,
                         const std::string& address) override;
    void EnableDownloadButton(bool enabled) override;
    void ShowStatus(bool visible) override;
    void SetStatusText(const std::string& text) override;
    void Refresh() override;
    std::optional<std::string> ChooseSaveFile(const std::string& proposedName) override;
    void ShowMessageBox(std::string_view text) override;
    void Accept() override;

    std::unique_ptr<Ui::DownloadDialog> m_ui;
    DownloadFlow m_flow;
    SaveChooser m_chooseSaveFile;
    MessageBoxHandler m_messageBox;
};

}  // namespace velmorin
