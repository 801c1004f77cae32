// SPDX-License-Identifier: MIT
// The transfer's progress as the terminal shows it, for one charger or many:
// its percentage, a bar of '#', and the line a log or a pipe gets at each
// tenth of the way. `update`, `update --all` and `station` draw it alike.
#pragma once

#include <string>

namespace velmorin::cli {

// `position` of `maximum` in whole percent; 0 while the maximum is unknown.
int ProgressPercent(long long position, long long maximum);

// "[#####     ]": `width` places, filled in proportion.
std::string ProgressBar(long long position, long long maximum, int width);

// "progress: 40% (400/1000)".
std::string ProgressLine(long long position, long long maximum);

// True when `percent` is in another tenth than `shownTenth` (-1: none shown
// yet), which then becomes that tenth.
bool NextTenth(int percent, int& shownTenth);

}  // namespace velmorin::cli
