// SPDX-License-Identifier: MIT
// The operator a record names when the program runs without $USER (a
// service, a cron job): the login name of the user it runs as.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "session/ledger.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

TEST(OperatorNameTest, WithoutUserIsTheLoginNameOfTheProcesssUser) {
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    {
        const testing::ScopedEnvironment set("USER", "line-3");
        EXPECT_EQ(OperatorName(), "line-3");
    }
    const testing::ScopedEnvironment unset("USER", std::nullopt);
    EXPECT_EQ(OperatorName(), user->pw_name);
}

}  // namespace
}  // namespace velmorin
