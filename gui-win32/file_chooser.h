// SPDX-License-Identifier: MIT
// The common file chooser, for opening an update file and for saving one
// (or a trace).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace velmorin::win32 {

// The chooser's filter for update files.
inline constexpr wchar_t kUpdateFileFilter[] = L"Kestrion Update File(*.bin)\0*.bin\0";

enum class FileChoice { Open, Save };

// Shows the chooser over `owner`: for Open, an existing file; for Save, a
// file in an existing folder, asking before one is overwritten. `filter` is
// the chooser's list of name patterns, `extension` is added to a name typed
// without one, and `suggested` fills the name box. The chosen path, or none
// when the operator cancelled.
std::optional<std::wstring> ChooseFile(HWND owner, FileChoice choice, const wchar_t* filter,
                                       const wchar_t* extension, std::wstring_view suggested = {});

}  // namespace velmorin::win32
