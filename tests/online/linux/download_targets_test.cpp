// SPDX-License-Identifier: MIT
// Where a download may go, with the kinds of file only POSIX systems make
// (FIFOs, device nodes) and the modes a replaced file keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "online/catalogue_fixture.h"
#include "online/http_transfer.h"

namespace velmorin {
namespace {

using testing::ReadText;

// A download goes to a regular file or a new name; everything else is
// refused before anything is fetched. A link leads to the file replaced,
// and a replaced file keeps its mode.
TEST_F(CatalogueTest, DownloadTargets) {
    m_server.Serve("/new.bin", "new content");
    const auto directory = m_outside.Path() / "targets";
    std::filesystem::create_directories(directory);
    const auto regular = directory / "regular.bin";
    struct Row {
        const char* name;
        std::function<bool(const std::filesystem::path&)> make;  // false: not possible here
        std::string problem;          // the refusal after "cannot save to PATH: "; empty: accepted
        std::filesystem::perms mode;  // of the file that holds the content afterwards
    };
    const auto writeRegular = [&](std::filesystem::perms mode) {
        std::ofstream(regular) << "old content";
        std::filesystem::permissions(regular, mode);
    };
    using std::filesystem::perms;
    const Row rows[] = {
        {"new name", [](const auto&) { return true; }, "", perms::none},
        {"regular file of mode 600",
         [&](const auto& path) {
             std::ofstream(path) << "old content";
             std::filesystem::permissions(path, perms::owner_read | perms::owner_write);
             return true;
         },
         "", perms::owner_read | perms::owner_write},
        {"link to a regular file of mode 640",
         [&](const auto& path) {
             writeRegular(perms::owner_read | perms::owner_write | perms::group_read);
             std::filesystem::create_symlink(regular, path);
             return true;
         },
         "", perms::owner_read | perms::owner_write | perms::group_read},
        {"link to nothing",
         [&](const auto& path) {
             std::filesystem::create_symlink(directory / "nothing", path);
             return true;
         },
         "the link leads nowhere", perms::none},
        {"directory", [](const auto& path) { return std::filesystem::create_directory(path); },
         "it is a directory", perms::none},
        {"link to a directory",
         [&](const auto& path) {
             std::filesystem::create_symlink(directory, path);
             return true;
         },
         "it is a directory", perms::none},
        {"FIFO", [](const auto& path) { return ::mkfifo(path.c_str(), 0600) == 0; }, "it is a FIFO",
         perms::none},
        {"character device",  // made like /dev/null; only root may
         [](const auto& path) { return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
         "it is a character device", perms::none},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto path = directory / "target.bin";
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        std::filesystem::remove(regular, ignored);
        if (!row.make(path)) {
            continue;
        }
        const auto kind = std::filesystem::symlink_status(path).type();
        const int requests = m_server.Requests();
        const TransferResult result =
            DownloadToFile("http://" + m_server.Host() + "/new.bin", path);
        EXPECT_EQ(DownloadTargetProblem(path).empty(), row.problem.empty());
        EXPECT_EQ(std::filesystem::symlink_status(path).type(),
                  row.problem.empty() && kind == std::filesystem::file_type::not_found
                      ? std::filesystem::file_type::regular
                      : kind);
        if (!row.problem.empty()) {
            EXPECT_FALSE(result.Succeeded());
            EXPECT_EQ(
                result.message.rfind("cannot save to " + path.string() + ": " + row.problem, 0), 0u)
                << result.message;
            EXPECT_EQ(m_server.Requests(), requests);
            continue;
        }
        EXPECT_TRUE(result.Succeeded()) << result.message;
        const auto holder = std::filesystem::canonical(path);
        EXPECT_EQ(ReadText(holder), "new content");
        if (row.mode != perms::none) {
            EXPECT_EQ(std::filesystem::status(holder).permissions(), row.mode);
        }
    }
    // Nothing but what the rows made is left in the directory.
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
    }
}

}  // namespace
}  // namespace velmorin
