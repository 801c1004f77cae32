// SPDX-License-Identifier: MIT
// The download dialog's rules, apart from any toolkit: the catalogue's rows,
// the save-as name and release-notes link that follow the selected row, the
// save chooser, and the download with its states ("Download:" while it runs,
// "Download failed." and the reason after a failure, the path handed to the
// main window after a success or a refused file). A view implements
// DownloadView with its controls and forwards clicks here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "online/catalogue.h"

namespace velmorin {

class DownloadView {
public:
    virtual ~DownloadView() = default;

    // The rows of the update list, texts in UTF-8: type, file name, version,
    // updated, address, note.
    virtual void SetRows(const std::vector<std::vector<std::string>>& rows) = 0;
    // Selects `row`; like a selection the operator makes, a change reaches
    // the flow as OnItemChanged.
    virtual void SelectRow(int row) = 0;
    // The selected row, -1 for none.
    virtual int SelectedRow() = 0;
    virtual std::string SaveAsText() = 0;
    virtual void SetSaveAsText(const std::string& text) = 0;
    // The release-notes link: its caption (none keeps the current one) and
    // address, underlining off, shown.
    virtual void ShowReleaseLink(const std::optional<std::string>& caption,
                                 const std::string& address) = 0;
    virtual void EnableDownloadButton(bool enabled) = 0;
    virtual void ShowStatus(bool visible) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // Lets the window show what changed before work that blocks.
    virtual void Refresh() = 0;
    // The save-as chooser, opened on the proposed plain name; nothing when
    // it is cancelled.
    virtual std::optional<std::string> ChooseSaveFile(const std::string& proposedName) = 0;
    // A message box without an icon; returns when it is closed.
    virtual void ShowMessageBox(std::string_view text) = 0;
    // Closes the dialog as accepted.
    virtual void Accept() = 0;
};

class DownloadFlow {
public:
    using DeliverPath = std::function<void(const std::string& path)>;
    using Download =
        std::function<TransferResult(const std::string& url, const std::filesystem::path& path)>;

    // `deliverPath` takes the path of a downloaded file (or of refused bytes
    // kept aside) for the main window.
    DownloadFlow(
        DownloadView& view, CatalogueContents contents, DeliverPath deliverPath,
        Download download = [](const std::string& url, const std::filesystem::path& path) {
            return DownloadUpdateFile(url, path);
        });

    // Fills the list, selects the first row and shows the default release notes.
    void Start();
    void OnItemChanged();
    void OnBrowse();
    void OnDownload();

private:
    // The selected row's file name as a plain name with ".bin"; empty without
    // a row or a name.
    std::string ProposedName();
    void EndDownload();

    DownloadView& m_view;
    CatalogueContents m_contents;
    DeliverPath m_deliverPath;
    Download m_download;
};

// The release notes shown when a row has none of its own.
std::string DefaultReleaseNotesAddress();

}  // namespace velmorin
