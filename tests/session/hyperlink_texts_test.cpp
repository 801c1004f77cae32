// SPDX-License-Identifier: MIT
// The hyperlink control's failure texts, which both windows show.
#include "session/hyperlink_texts.h"

#include <gtest/gtest.h>

namespace velmorin {
namespace {

TEST(HyperlinkTexts, FailureTextsNameTheReason) {
    const struct {
        int code;
        const char* reason;
    } rows[] = {
        {0, "The operating system is out\nof memory or resources."},
        {5, "The operating system denied\naccess to the specified file."},
        {26, "A sharing violation occurred. "},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {42, "Unknown Error (42) occurred."},
        {-1, "Unknown Error (-1) occurred."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(HyperlinkFailureText(row.code),
                  std::string("Unable to open hyperlink:\n\n") + row.reason);
    }
    EXPECT_GT(kHyperlinkOpened, kHyperlinkFailureCodes);
}

}  // namespace
}  // namespace velmorin
