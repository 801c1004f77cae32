// SPDX-License-Identifier: MIT
// The history's lines for upgrades that Ctrl-C ends at once. An ending
// request ends the program where it stands (on Linux inside a signal
// handler, where nothing but system calls may run), so each run's line is
// composed beforehand, as "interrupted", and kept up to date as the run
// goes on; the request's handler appends every line held. One record per
// program: the handler knows of no other.
#pragma once

#include <filesystem>

#include "session/ledger.h"

namespace velmorin::cli {

// Holds `entry` (its outcome set to interrupted here) as the line of run
// `run` (0 to 31) for the history at `path`, in place of the one held
// before. Not safe against a concurrent call for the same run.
void HoldInterruptedLine(int run, const std::filesystem::path& path, LedgerEntry entry);

// The run ended by itself and wrote its own line: nothing is held for it.
void DropInterruptedLine(int run);

// Appends every line held, each in one write, flushed. Safe in the ending
// request's handler.
void WriteInterruptedLines();

}  // namespace velmorin::cli
