// SPDX-License-Identifier: MIT
// The maker's catalogue from a terminal: `check-release`, `catalogue` and
// `download INDEX [-o PATH]`. Each names the server it asks when standard
// error is a terminal, and on a request to end (Ctrl-C; on Linux SIGINT,
// SIGTERM or SIGHUP, and it ends by that signal) ends as that request would
// have ended it, without leaving a temporary file behind.
#pragma once

#include <string>

namespace velmorin::cli {

// The exit status of `check-release` when neither server could be asked.
inline constexpr int kCouldNotCheck = 3;

// 0 when the catalogue names a newer release (its address printed), 1 when
// it names none, kCouldNotCheck when it could not be fetched (the servers'
// failures on standard error), 2 for a malformed server setting.
int RunCheckReleaseCommand();
// One line per entry: index, Type, FileName, Ver, Updated, URL, Note,
// tab-separated (a tab or line break in a text is escaped). 1 when the
// catalogue cannot be fetched or lists no entry. With `json` every way out
// prints one JSON value: the array of entries, or an object with "outcome"
// and "reason".
int RunCatalogueCommand(bool json);
// Downloads entry `index` to `path` (default: its proposed file name in the
// current directory) and checks it before it replaces anything. 0 when
// downloaded and accepted; 1 when the target cannot take a download (said
// before anything is fetched), the transfer fails or the file is rejected
// (the target then left as it was).
int RunDownloadCommand(int index, const std::string& path);

}  // namespace velmorin::cli
