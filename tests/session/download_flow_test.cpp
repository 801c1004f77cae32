// SPDX-License-Identifier: MIT
// The download dialog's rules without a toolkit, through a recording view
// and an injected download: the rows and the first selection, the save-as
// name and release notes that follow the selected row, the save chooser,
// and the download's states and outcomes (delivered and accepted, refused
// and kept aside, failed).
#include "session/download_flow.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/test_files.h"

namespace velmorin {
namespace {

// A view that records every call as text and keeps what its controls would
// show. Selecting a row reaches the flow as a toolkit's selection signal
// does: only when the selection changes.
class RecordingDownloadView : public DownloadView {
public:
    std::function<void()> selectionChanged;
    // The save chooser's answer.
    std::optional<std::string> chosenFile;

    std::vector<std::string> calls;
    std::vector<std::vector<std::string>> rows;
    int selectedRow = -1;
    std::string saveAs = "stale.bin";
    std::string linkCaption = "Release Notes";  // the dialog's own caption
    std::string linkAddress;
    bool linkShown = false;
    bool downloadEnabled = true;
    bool statusVisible = false;
    std::string statusText;
    std::vector<std::string> chooserProposals;
    std::vector<std::string> boxes;
    bool accepted = false;

    void SetRows(const std::vector<std::vector<std::string>>& newRows) override {
        Record("rows:" + std::to_string(newRows.size()));
        rows = newRows;
    }
    void SelectRow(int row) override {
        Record("select:" + std::to_string(row));
        if (row != selectedRow) {
            selectedRow = row;
            if (selectionChanged) {
                selectionChanged();
            }
        }
    }
    int SelectedRow() override { return selectedRow; }
    std::string SaveAsText() override { return saveAs; }
    void SetSaveAsText(const std::string& text) override {
        Record("save-as:" + text);
        saveAs = text;
    }
    void ShowReleaseLink(const std::optional<std::string>& caption,
                         const std::string& address) override {
        Record("link:" + caption.value_or("(kept)") + "|" + address);
        if (caption) {
            linkCaption = *caption;
        }
        linkAddress = address;
        linkShown = true;
    }
    void EnableDownloadButton(bool enabled) override {
        Record(std::string("download-button:") + (enabled ? "on" : "off"));
        downloadEnabled = enabled;
    }
    void ShowStatus(bool visible) override {
        Record(std::string("status-shown:") + (visible ? "yes" : "no"));
        statusVisible = visible;
    }
    void SetStatusText(const std::string& text) override {
        Record("status:" + text);
        statusText = text;
    }
    void Refresh() override { Record("refresh"); }
    std::optional<std::string> ChooseSaveFile(const std::string& proposedName) override {
        Record("chooser:" + proposedName);
        chooserProposals.push_back(proposedName);
        return chosenFile;
    }
    void ShowMessageBox(std::string_view text) override {
        Record("box:" + std::string(text));
        boxes.emplace_back(text);
    }
    void Accept() override {
        Record("accept");
        accepted = true;
    }

    void Record(std::string call) { calls.push_back(std::move(call)); }
};

constexpr char kWebSite[] = "www.test.example";
constexpr char kDefaultNotes[] = "http://www.test.example/UploadFiles/ReleaseNotes-Kestrion.txt";

// Entries as the catalogue holds them, texts in its code page (0xE9 is e
// acute, 0xB5 micro).
CatalogueContents Catalogue() {
    CatalogueContents contents;
    contents.entries = {
        {"1010B", "abc", "V1.02", "2024-01-02", "http://files.example/abc.bin", "first"},
        {"1010\xB5", "", "V1.03", "2024-02-03", "http://files.example/caf\xE9.bin", "n\xE9w"},
        {"1010B", "../up/def", "V1.04", "", "http://files.example/def.bin", ""},
        {"1010B", "caf\xE9", "V1.05", "", "", ""},
    };
    contents.releases[0] = {"Notes for abc", "http://r/abc"};
    contents.releases[1] = {"R\xE9sum\xE9", ""};
    contents.releases[2] = {"Notes for def", "http://r/def"};
    // Entries up to 22: the release table ends with slot 19.
    for (int i = static_cast<int>(contents.entries.size()); i < 22; ++i) {
        const std::string n = std::to_string(i);
        contents.entries.push_back({"T" + n, "F" + n, "", "", "http://files.example/" + n, ""});
        if (static_cast<std::size_t>(i) < kReleaseSlots) {
            contents.releases[static_cast<std::size_t>(i)] = {"R" + n, "http://r/" + n};
        }
    }
    return contents;
}

class DownloadFlowTest : public ::testing::Test {
protected:
    // A flow over `contents` with the recording view, started.
    DownloadFlow& Open(CatalogueContents contents) {
        m_flow = std::make_unique<DownloadFlow>(
            m_view, std::move(contents),
            [this](const std::string& path) { m_view.Record("deliver:" + path); },
            [this](const std::string& url, const std::filesystem::path& path) {
                m_view.Record("download:" + url + " -> " + path.string());
                return m_transfer;
            });
        m_view.selectionChanged = [this] { m_flow->OnItemChanged(); };
        m_flow->Start();
        return *m_flow;
    }

    const testing::ScopedEnvironment m_webSite{"VELMORIN_WEB_SITE", std::string(kWebSite)};
    testing::TempDirectory m_directory;
    RecordingDownloadView m_view;
    TransferResult m_transfer;  // what the download returns
    std::unique_ptr<DownloadFlow> m_flow;
};

TEST_F(DownloadFlowTest, StartFillsTheRowsAndSelectsTheFirst) {
    ASSERT_EQ(DefaultReleaseNotesAddress(), kDefaultNotes);
    Open(Catalogue());
    ASSERT_EQ(m_view.rows.size(), 22u);
    EXPECT_EQ(m_view.rows[0], (std::vector<std::string>{"1010B", "abc", "V1.02", "2024-01-02",
                                                        "http://files.example/abc.bin", "first"}));
    // Every column converted from the code page.
    EXPECT_EQ(m_view.rows[1],
              (std::vector<std::string>{"1010\xC2\xB5", "", "V1.03", "2024-02-03",
                                        "http://files.example/caf\xC3\xA9.bin", "n\xC3\xA9w"}));
    EXPECT_EQ(m_view.rows[3][1], "caf\xC3\xA9");
    EXPECT_EQ(m_view.selectedRow, 0);
    EXPECT_EQ(m_view.saveAs, "abc.bin");
    // The first row's caption stays; the address is the default notes.
    EXPECT_EQ(m_view.linkCaption, "Notes for abc");
    EXPECT_EQ(m_view.linkAddress, kDefaultNotes);
    EXPECT_TRUE(m_view.linkShown);
    EXPECT_EQ(m_view.calls.back(), std::string("link:(kept)|") + kDefaultNotes);

    // An empty catalogue: no row, nothing selected, the default notes.
    m_view = RecordingDownloadView();
    Open(CatalogueContents{});
    EXPECT_TRUE(m_view.rows.empty());
    EXPECT_EQ(m_view.selectedRow, -1);
    EXPECT_EQ(m_view.saveAs, "stale.bin");
    EXPECT_EQ(m_view.linkCaption, "Release Notes");
    EXPECT_EQ(m_view.linkAddress, kDefaultNotes);
    EXPECT_EQ(m_view.calls,
              (std::vector<std::string>{"rows:0", std::string("link:(kept)|") + kDefaultNotes}));
}

TEST_F(DownloadFlowTest, SelectedRowSetsSaveAsAndReleaseNotes) {
    struct Row {
        int row;
        const char* saveAs;
        const char* caption;
        std::string address;
    };
    const Row rows[] = {
        {1, "", "R\xC3\xA9sum\xC3\xA9", ""},  // no file name: nothing proposed
        {2, "def.bin", "Notes for def", "http://r/def"},
        {3, "caf\xC3\xA9.bin", "", ""},
        {19, "F19.bin", "R19", "http://r/19"},
        // Past the release table's 20 slots: the default notes.
        {20, "F20.bin", "Kestrion Release Notes", kDefaultNotes},
        {21, "F21.bin", "Kestrion Release Notes", kDefaultNotes},
        // Back to the first row: its own notes now.
        {0, "abc.bin", "Notes for abc", "http://r/abc"},
    };
    DownloadFlow& flow = Open(Catalogue());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.row);
        m_view.SelectRow(row.row);
        EXPECT_EQ(m_view.saveAs, row.saveAs);
        EXPECT_EQ(m_view.linkCaption, row.caption);
        EXPECT_EQ(m_view.linkAddress, row.address);
    }

    // Without a selection nothing changes.
    m_view.selectedRow = -1;
    m_view.calls.clear();
    flow.OnItemChanged();
    EXPECT_EQ(m_view.calls, std::vector<std::string>{});
}

TEST_F(DownloadFlowTest, ChooserProposesThePlainName) {
    struct Row {
        int row;
        std::optional<std::string> chosen;
        const char* proposed;
        const char* saveAs;
    };
    const Row rows[] = {
        {0, std::nullopt, "abc.bin", "typed.bin"},  // cancelled: the box is kept
        {2, std::nullopt, "def.bin", "typed.bin"},
        {1, std::nullopt, "", "typed.bin"},
        {2, "/srv/updates/def-1.bin", "def.bin", "/srv/updates/def-1.bin"},
    };
    DownloadFlow& flow = Open(Catalogue());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.row);
        m_view.selectedRow = row.row;
        m_view.saveAs = "typed.bin";
        m_view.chosenFile = row.chosen;
        m_view.chooserProposals.clear();
        flow.OnBrowse();
        EXPECT_EQ(m_view.chooserProposals, std::vector<std::string>{row.proposed});
        EXPECT_EQ(m_view.saveAs, row.saveAs);
    }
}

TEST_F(DownloadFlowTest, DownloadOutcomes) {
    const auto target = m_directory.Path() / "abc.bin";
    const auto kept = m_directory.Path() / "abc.bin.rejected";
    const std::string address = "http://files.example/caf\xC3\xA9.bin";
    enum class Outcome { Succeeded, Refused, RefusedNotKept, Failed };
    struct Row {
        const char* name;
        Outcome outcome;
    };
    const Row rows[] = {
        {"succeeded", Outcome::Succeeded},
        {"refused, kept aside", Outcome::Refused},
        {"refused, not kept", Outcome::RefusedNotKept},
        {"failed", Outcome::Failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_view = RecordingDownloadView();
        m_transfer = TransferResult();
        switch (row.outcome) {
        case Outcome::Succeeded:
            break;
        case Outcome::Refused:
            m_transfer.rejection = "File format error!";
            m_transfer.keptAt = kept;
            break;
        case Outcome::RefusedNotKept:
            m_transfer.rejection = "The file is big!";
            break;
        case Outcome::Failed:
            m_transfer.status = static_cast<std::int32_t>(kTransferStatusBase | 404);
            m_transfer.message = "files.example: HTTP 404 Not Found";
            break;
        }
        DownloadFlow& flow = Open(Catalogue());
        m_view.SelectRow(1);
        m_view.saveAs = target.string();
        m_view.calls.clear();
        flow.OnDownload();

        // The button off and the status shown before the transfer blocks.
        const std::vector<std::string> start = {"download-button:off", "status:Download:" + address,
                                                "status-shown:yes", "refresh",
                                                "download:" + address + " -> " + target.string()};
        ASSERT_GE(m_view.calls.size(), start.size());
        EXPECT_EQ(std::vector<std::string>(
                      m_view.calls.begin(),
                      m_view.calls.begin() + static_cast<std::ptrdiff_t>(start.size())),
                  start);
        const std::vector<std::string> rest(
            m_view.calls.begin() + static_cast<std::ptrdiff_t>(start.size()), m_view.calls.end());
        const std::vector<std::string> end = {"download-button:on", "status-shown:no"};
        std::vector<std::string> expected;
        switch (row.outcome) {
        case Outcome::Succeeded:
            expected = {"deliver:" + target.string()};
            expected.insert(expected.end(), end.begin(), end.end());
            expected.push_back("accept");
            break;
        case Outcome::Refused:
            // The refused bytes go to the main window before the box.
            expected = {"status:Download failed.", "deliver:" + kept.string(),
                        "box:" + RejectedDownloadText(m_transfer, target)};
            expected.insert(expected.end(), end.begin(), end.end());
            break;
        case Outcome::RefusedNotKept:
            expected = {"status:Download failed.",
                        "box:" + RejectedDownloadText(m_transfer, target)};
            expected.insert(expected.end(), end.begin(), end.end());
            break;
        case Outcome::Failed:
            expected = {"status:Download failed.",
                        "box:Download failed.\n\nError = 0x800C0194\n\n"
                        "files.example: HTTP 404 Not Found"};
            expected.insert(expected.end(), end.begin(), end.end());
            break;
        }
        EXPECT_EQ(rest, expected);
        EXPECT_EQ(m_view.accepted, row.outcome == Outcome::Succeeded);
        EXPECT_TRUE(m_view.downloadEnabled);
        EXPECT_FALSE(m_view.statusVisible);
        if (row.outcome == Outcome::Refused || row.outcome == Outcome::RefusedNotKept) {
            ASSERT_EQ(m_view.boxes.size(), 1u);
            EXPECT_EQ(m_view.boxes[0].rfind(
                          "The downloaded file is rejected: " + m_transfer.rejection, 0),
                      0u)
                << m_view.boxes[0];
        }
    }
}

}  // namespace
}  // namespace velmorin
