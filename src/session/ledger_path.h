// SPDX-License-Identifier: MIT
// Whether the history's place can take the history: a program that records
// upgrades checks it once as it starts, before it touches a charger, so
// that a FIFO or a folder there is reported at once rather than hanging or
// failing the first record.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmorin {

// Empty when `path` does not exist yet (the first record makes it) or is a
// regular file, or a link to one. Otherwise what is wrong and what to do:
// "the history /x/history.jsonl is not a regular file (it is a FIFO);
// remove it or set XDG_STATE_HOME to another folder". A path whose kind
// cannot be told (a folder above it that cannot be searched) is left to the
// record's own error.
std::string LedgerPathProblem(const std::filesystem::path& path);

// The environment variable that chooses the history's folder on this
// platform (XDG_STATE_HOME on Linux, LOCALAPPDATA on Windows).
std::string_view LedgerFolderVariable();

}  // namespace velmorin
