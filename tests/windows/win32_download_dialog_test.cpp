// SPDX-License-Identifier: MIT
// The Windows download dialog driven through its control IDs against the
// test HTTP server on 127.0.0.1: the catalogue's rows fill the list with the
// first selected, the chosen row downloads to the path in the Save As field
// (WinHTTP), the checked file goes to the main window and the dialog closes;
// a row whose file is refused leaves the target as it was and says why in a
// message box, and the dialog stays open.
#include <windows.h>
// The headers below need the types of <windows.h>.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gui-win32/download_dialog.h"
#include "gui-win32/resource_ids.h"
#include "gui-win32/wide_text.h"
#include "image/update_sealer.h"
#include "support/http_server.h"
#include "support/test_files.h"

namespace velmorin::win32 {
namespace {

// The steps run from a thread timer, which the dialog's own modal loop
// serves; each returns true when it is done with.
std::vector<std::function<bool()>> steps;
std::size_t nextStep = 0;

void CALLBACK RunNextStep(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    if (nextStep < steps.size() && steps[nextStep]()) {
        ++nextStep;
    }
    if (nextStep < steps.size()) {
        ::SetTimer(nullptr, 0, 20, RunNextStep);
    }
}

// The thread's visible window, other than `other`, that has a control of
// this ID.
HWND FindOwnWindow(int controlId, HWND other = nullptr) {
    struct Search {
        int id;
        HWND other;
        HWND found;
    } search{controlId, other, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto& wanted = *reinterpret_cast<Search*>(data);
            if (window != wanted.other && ::IsWindowVisible(window) &&
                ::GetDlgItem(window, wanted.id) != nullptr) {
                wanted.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The text of a message box's static control (0xFFFF on Windows; any static
// with text will do).
std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    ::EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
            wchar_t className[16] = {};
            ::GetClassNameW(child, className, 16);
            if (std::wstring(className) == L"Static" && ::GetWindowTextLengthW(child) > 0) {
                *reinterpret_cast<std::wstring*>(data) += WindowText(child);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

std::wstring RowText(HWND list, int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
    return text;
}

void Click(HWND dialog, int id) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

TEST(Win32DownloadDialog, DownloadsTheChosenRowAndRefusesABadFile) {
    testing::HttpServer server;
    testing::TempDirectory directory;
    UpdateHeader fields;
    fields.version = "V3.01";
    const std::vector<std::uint8_t> sealed =
        SealUpdateFile(fields, std::vector<std::uint8_t>(96, 0x5A), SealedForm::WholeFile);
    const std::string good(sealed.begin(), sealed.end());
    server.Serve("/good.bin", good);
    server.Serve("/bad.bin", "no update file, only text");
    CatalogueContents contents;
    contents.entries = {
        {"1010B", "good", "V3.01", "2026-12-01", "http://" + server.Host() + "/good.bin", ""},
        {"1010B", "bad", "V3.02", "2026-12-02", "http://" + server.Host() + "/bad.bin", ""},
    };
    const auto target = directory.Path() / "saved.bin";
    testing::WriteBytes(target, {'o', 'l', 'd'});

    std::vector<std::string> delivered;
    std::wstring firstRowFile;
    int rows = 0;
    int selectedAtStart = -2;
    std::wstring refusal;
    bool stayedOpen = false;
    HWND dialog = nullptr;
    const auto selectRow = [&](int row) {
        const HWND list = ::GetDlgItem(dialog, ID_UPDATE_LIST);
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&item));
    };
    steps = {
        [&] {
            dialog = FindOwnWindow(ID_UPDATE_LIST);
            if (dialog == nullptr) {
                return false;  // not shown yet
            }
            const HWND list = ::GetDlgItem(dialog, ID_UPDATE_LIST);
            rows = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            selectedAtStart = static_cast<int>(
                ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
            for (int column = 0; column < 4; ++column) {
                if (RowText(list, 0, column) == L"good") {
                    firstRowFile = L"good";
                }
            }
            // The refused file first: the message box comes up from the
            // click, inside it, so the next step closes it.
            selectRow(1);
            ::SetDlgItemTextW(dialog, ID_SAVE_AS_EDIT, target.c_str());
            ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
            return true;
        },
        [&] {
            const HWND box = FindOwnWindow(IDOK, dialog);
            if (box == nullptr) {
                return false;
            }
            refusal = MessageBoxText(box);
            Click(box, IDOK);
            return true;
        },
        [&] {
            stayedOpen = ::IsWindow(dialog) && ::IsWindowEnabled(::GetDlgItem(dialog, IDOK));
            if (!stayedOpen) {
                return true;
            }
            // Choosing a row proposes its file name; the operator's path
            // goes back in.
            selectRow(0);
            ::SetDlgItemTextW(dialog, ID_SAVE_AS_EDIT, target.c_str());
            Click(dialog, IDOK);  // returns once the download is done
            return true;
        },
    };
    nextStep = 0;
    ::SetTimer(nullptr, 0, 20, RunNextStep);
    DownloadDialog downloads(nullptr, contents,
                             [&](const std::string& path) { delivered.push_back(path); });
    downloads.Run();

    EXPECT_EQ(nextStep, steps.size()) << "the dialog closed before every step had run";
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(selectedAtStart, 0);
    EXPECT_EQ(firstRowFile, L"good");
    EXPECT_NE(refusal.find(L"saved.bin"), std::wstring::npos) << Narrow(refusal);
    EXPECT_TRUE(stayedOpen) << "the dialog closed after a refused download";
    // The refused bytes went to the main window from beside the target, the
    // good file from the target itself, which now holds it.
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_NE(delivered[0].find("saved.bin.rejected"), std::string::npos) << delivered[0];
    EXPECT_EQ(delivered[1], Narrow(target.wstring()));
    EXPECT_EQ(testing::ReadBytes(target), sealed);
}

}  // namespace
}  // namespace velmorin::win32
