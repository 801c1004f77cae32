// SPDX-License-Identifier: MIT
// The history's place as a program checks it when it starts: nothing yet or
// a regular file (or a link to one) is fine; a FIFO, a folder or a socket
// is named with what it is.
#include "session/ledger_path.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace velmorin {
namespace {

TEST(LedgerPathTest, NamesWhatIsInTheHistorysPlace) {
    const testing::TempDirectory directory;
    const std::filesystem::path dir = directory.Path();
    std::ofstream(dir / "regular") << "{}\n";
    std::filesystem::create_symlink(dir / "regular", dir / "link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    std::filesystem::create_directory(dir / "folder");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    struct Row {
        std::string name;
        std::string kind;  // empty: no problem
    };
    const Row rows[] = {
        {"missing", ""},    {"regular", ""},           {"link", ""},
        {"fifo", "a FIFO"}, {"folder", "a directory"}, {"socket", "a socket"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string problem = LedgerPathProblem(dir / row.name);
        if (row.kind.empty()) {
            EXPECT_EQ(problem, "");
            continue;
        }
        EXPECT_EQ(problem, "the history " + (dir / row.name).string() +
                               " is not a regular file (it is " + row.kind +
                               "); remove it or set XDG_STATE_HOME to another folder");
    }
    EXPECT_NE(LedgerPathProblem("/dev/null").find("(it is a character device)"), std::string::npos);
    ::close(listener);
}

}  // namespace
}  // namespace velmorin
