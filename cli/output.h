// SPDX-License-Identifier: MIT
// The end of a command's output: what it printed must have reached its
// destination (a full disk, a closed pipe), or the exit status says so.
#pragma once

namespace velmorin::cli {

// Flushes standard output. When any write to it failed, prints
// "velmorin-cli: cannot write the output: <reason>" on standard error (the
// reason left out when an earlier write failed and none is known now) and
// returns 1, or `status` when that is already a failure (not 0); otherwise
// returns `status`. Call it last, with the status the command would return.
int FinishOutput(int status);

}  // namespace velmorin::cli
