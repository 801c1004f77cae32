// SPDX-License-Identifier: MIT
// The download dialog's rules.
#include "session/download_flow.h"

#include "image/code_page.h"
#include "image/file_path.h"

namespace velmorin {

std::string DefaultReleaseNotesAddress() {
    return "http://" + WebSite() + std::string(kReleaseNotesPath);
}

DownloadFlow::DownloadFlow(DownloadView& view, CatalogueContents contents, DeliverPath deliverPath,
                           Download download)
    : m_view(view),
      m_contents(std::move(contents)),
      m_deliverPath(std::move(deliverPath)),
      m_download(std::move(download)) {}

void DownloadFlow::Start() {
    std::vector<std::vector<std::string>> rows;
    for (const UpdateEntry& entry : m_contents.entries) {
        rows.push_back({CodePageToUtf8(entry.type), CodePageToUtf8(entry.fileName),
                        CodePageToUtf8(entry.version), CodePageToUtf8(entry.updated),
                        CodePageToUtf8(entry.url), CodePageToUtf8(entry.note)});
    }
    m_view.SetRows(rows);
    if (!rows.empty()) {
        m_view.SelectRow(0);
    }
    m_view.ShowReleaseLink(std::nullopt, DefaultReleaseNotesAddress());
}

std::string DownloadFlow::ProposedName() {
    const int row = m_view.SelectedRow();
    if (row < 0 || static_cast<std::size_t>(row) >= m_contents.entries.size()) {
        return {};
    }
    const std::string& fileName = m_contents.entries[static_cast<std::size_t>(row)].fileName;
    // The catalogue's name is reduced to a plain file name of this directory.
    return fileName.empty() ? std::string() : ProposedFileName(CodePageToUtf8(fileName));
}

void DownloadFlow::OnItemChanged() {
    const int row = m_view.SelectedRow();
    if (row < 0) {
        return;
    }
    m_view.SetSaveAsText(ProposedName());
    // Rows past the release table's 20 slots keep the default notes.
    if (static_cast<std::size_t>(row) < kReleaseSlots) {
        const ReleaseSlot& slot = m_contents.releases[static_cast<std::size_t>(row)];
        m_view.ShowReleaseLink(CodePageToUtf8(slot.caption), CodePageToUtf8(slot.address));
    } else {
        m_view.ShowReleaseLink("Kestrion Release Notes", DefaultReleaseNotesAddress());
    }
}

void DownloadFlow::OnBrowse() {
    if (const auto chosen = m_view.ChooseSaveFile(ProposedName())) {
        m_view.SetSaveAsText(*chosen);
    }
}

void DownloadFlow::EndDownload() {
    m_view.EnableDownloadButton(true);
    m_view.ShowStatus(false);
}

void DownloadFlow::OnDownload() {
    m_view.EnableDownloadButton(false);
    const int row = m_view.SelectedRow();
    const std::string address =
        row < 0 || static_cast<std::size_t>(row) >= m_contents.entries.size()
            ? std::string()
            : CodePageToUtf8(m_contents.entries[static_cast<std::size_t>(row)].url);
    const std::string path = m_view.SaveAsText();
    m_view.SetStatusText("Download:" + address);
    m_view.ShowStatus(true);
    m_view.Refresh();  // the status shows before the transfer blocks

    // The downloaded bytes are checked before they replace the file at the path.
    const std::filesystem::path target = PathFromText(path);
    const TransferResult result = m_download(address, target);
    if (result.Rejected()) {
        // The file at the path stays as it was; the main window is given the
        // refused bytes, so that its file information shows the verdict.
        m_view.SetStatusText("Download failed.");
        if (!result.keptAt.empty()) {
            m_deliverPath(TextOfPath(result.keptAt));
        }
        m_view.ShowMessageBox(RejectedDownloadText(result, target));
        EndDownload();
        return;
    }
    if (result.Succeeded()) {
        m_deliverPath(path);
        EndDownload();
        m_view.Accept();
        return;
    }
    m_view.SetStatusText("Download failed.");
    m_view.ShowMessageBox(TransferFailureText("Download failed.", result));
    EndDownload();
}

}  // namespace velmorin
