// SPDX-License-Identifier: MIT
// The commands' output going nowhere: a standard output that refuses every
// write (/dev/full) is an error that a script must see in the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/http_server.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::ProgramOutcome;
using testing::RunProgram;

// Runs a program with /dev/full as its standard output; `out` stays empty.
ProgramOutcome RunIntoFullDevice(const std::vector<std::string>& args) {
    const testing::TempDirectory directory;
    const auto errPath = directory.Path() / "err";
    const pid_t child = testing::StartProgram(args, "/dev/full", errPath);
    int status = 0;
    ::waitpid(child, &status, 0);
    ProgramOutcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<std::uint8_t> err = testing::ReadBytes(errPath);
    outcome.err.assign(err.begin(), err.end());
    return outcome;
}

TEST(CliOutput, AFailedWriteIsAnError) {
    const testing::TempDirectory directory;
    const std::string dir = directory.Path().string();
    const testing::BackgroundProgram charger({VELMORIN_SIM, "hid", "--dir", dir});
    ASSERT_TRUE(testing::WaitForFile(directory.Path() / "charger1.json"));
    const testing::ScopedEnvironment environment("VELMORIN_VIRTUAL_DEVICES", dir);
    const std::string file = dir + "/update.bin";
    testing::WriteBytes(dir + "/payload", std::vector<std::uint8_t>(64, 0x5A));
    ASSERT_EQ(RunProgram({VELMORIN_SIM, "seal", dir + "/payload", "-o", file}).exitCode, 0);

    // A catalogue that names a newer release and one update file.
    testing::HttpServer server;
    server.Serve("/UploadFiles/KestrionUpdateInfo.inf",
                 "[Software]\nVer=V9.9\nURL=http://example/new\n[File List]\nCountEx=1\n"
                 "Type0=1010B\nFileName0=k1010b\nVer0=V1.00\nURL0=http://example/k.bin\n");
    const testing::ScopedEnvironment updateServer("VELMORIN_UPDATE_SERVER", server.Host());

    const std::vector<std::vector<std::string>> rows = {
        {VELMORIN_CLI, "check-release"},
        {VELMORIN_CLI, "catalogue"},
        {VELMORIN_CLI, "catalogue", "--json"},
        {UMOCKDEV_WRAPPER, "--empty", VELMORIN_CLI, "list"},
        {UMOCKDEV_WRAPPER, "--empty", VELMORIN_CLI, "list", "--json"},
        {VELMORIN_CLI, "info", file},
        {VELMORIN_CLI, "info", "--json", file},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(args[std::min<std::size_t>(args.size() - 2, 1)] + " " + args.back());
        // The same command into a file succeeds: only the output fails.
        ASSERT_EQ(RunProgram(args).exitCode, 0);
        const ProgramOutcome outcome = RunIntoFullDevice(args);
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(outcome.err, "velmorin-cli: cannot write the output: No space left on device\n");
    }
}

}  // namespace
}  // namespace velmorin
