// SPDX-License-Identifier: MIT
// The maker's catalogue from a terminal: `check-release`, `catalogue` and
// `download INDEX [-o PATH]`.
#pragma once

#include <string>

namespace velmorin::cli {

// 0 when the catalogue names a newer release (its address printed), 1 when not.
int RunCheckReleaseCommand();
// One line per entry: index, Type, FileName, Ver, Updated, URL, Note,
// tab-separated. 1 when the catalogue cannot be fetched.
int RunCatalogueCommand(bool json);
// Downloads entry `index` to `path` (default: its proposed file name in the
// current directory) and checks it. 0 when downloaded and accepted.
int RunDownloadCommand(int index, const std::string& path);

}  // namespace velmorin::cli
