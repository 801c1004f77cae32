// SPDX-License-Identifier: MIT
// The progress texts of the terminal.
#include "progress_text.h"

#include <algorithm>

namespace velmorin::cli {

int ProgressPercent(long long position, long long maximum) {
    return maximum > 0 ? static_cast<int>(std::clamp(position, 0LL, maximum) * 100 / maximum) : 0;
}

std::string ProgressBar(long long position, long long maximum, int width) {
    const int filled =
        maximum > 0 ? static_cast<int>(std::clamp(position, 0LL, maximum) * width / maximum) : 0;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), ' ') + "]";
}

std::string ProgressLine(long long position, long long maximum) {
    return "progress: " + std::to_string(ProgressPercent(position, maximum)) + "% (" +
           std::to_string(position) + "/" + std::to_string(maximum) + ")";
}

bool NextTenth(int percent, int& shownTenth) {
    if (percent / 10 == shownTenth) {
        return false;
    }
    shownTenth = percent / 10;
    return true;
}

}  // namespace velmorin::cli
