// SPDX-License-Identifier: MIT
#include "gui-win32/file_chooser.h"

#include <commdlg.h>

#include <algorithm>
#include <cwchar>

namespace velmorin::win32 {

std::optional<std::wstring> ChooseFile(HWND owner, FileChoice choice, const wchar_t* filter,
                                       const wchar_t* extension, std::wstring_view suggested) {
    // Room for the longest path the chooser can return.
    std::wstring file(32768, L'\0');
    if (suggested.size() < file.size()) {
        std::copy(suggested.begin(), suggested.end(), file.begin());
    }
    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = owner;
    chooser.lpstrFilter = filter;
    chooser.lpstrFile = file.data();
    chooser.nMaxFile = static_cast<DWORD>(file.size());
    chooser.lpstrDefExt = extension;
    chooser.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                    (choice == FileChoice::Open ? OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT);
    const BOOL chosen =
        choice == FileChoice::Open ? ::GetOpenFileNameW(&chooser) : ::GetSaveFileNameW(&chooser);
    if (!chosen) {
        return std::nullopt;
    }
    file.resize(std::wcslen(file.c_str()));
    return file;
}

}  // namespace velmorin::win32
