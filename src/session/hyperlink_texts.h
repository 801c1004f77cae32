// SPDX-License-Identifier: MIT
// The hyperlink control's results: opening an address gives a number above
// kHyperlinkFailureCodes on success, else one of the shell's failure codes,
// which the operator is told in these words (every view says the same).
#pragma once

#include <string>

namespace velmorin {

inline constexpr int kHyperlinkFailureCodes = 32;
inline constexpr int kHyperlinkOpened = 33;

// "Unable to open hyperlink:\n\n" and the reason for a failure code.
std::string HyperlinkFailureText(int code);

}  // namespace velmorin
