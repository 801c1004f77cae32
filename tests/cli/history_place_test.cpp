// SPDX-License-Identifier: MIT
// The commands that record upgrades against a history that cannot take
// records: a FIFO in its place would hold the record that Ctrl-C writes, so
// `update` and `station` refuse it as they start, naming it, and never
// reach a charger.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "image/update_sealer.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

using testing::BackgroundProgram;
using testing::RunProgram;

TEST(HistoryPlaceTest, RefusesAFifoBeforeTouchingACharger) {
    const testing::TempDirectory directory;
    const std::string dir = directory.Path().string();
    const testing::ScopedEnvironment devices("VELMORIN_VIRTUAL_DEVICES", dir);
    const testing::ScopedEnvironment state("XDG_STATE_HOME", dir + "/state");
    const BackgroundProgram charger(
        {VELMORIN_SIM, "serial", "--dir", dir, "--model-code", "0x2A", "--save", dir + "/got.bin"});
    ASSERT_TRUE(testing::WaitForFile(directory.Path() / "COM201.json"));
    const std::filesystem::path history = dir + "/state/velmorin/history.jsonl";
    std::filesystem::create_directories(history.parent_path());
    ASSERT_EQ(::mkfifo(history.c_str(), 0644), 0);
    UpdateHeader fields;
    fields.modelCode = 0x2A;
    const std::string file = dir + "/update.bin";
    testing::WriteBytes(
        file, SealUpdateFile(fields, std::vector<std::uint8_t>(512, 0x5A), SealedForm::WholeFile));

    const std::vector<std::vector<std::string>> commands = {
        {VELMORIN_CLI, "update", file, "--device", "COM201"},
        {VELMORIN_CLI, "station", file, "--count", "1"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[1]);
        const auto refused = RunProgram(command);
        EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.err;
        EXPECT_EQ(refused.err, "velmorin-cli: the history " + history.string() +
                                   " is not a regular file (it is a FIFO); remove it or set "
                                   "XDG_STATE_HOME to another folder\n");
        EXPECT_FALSE(std::filesystem::exists(dir + "/got.bin"));
    }
}

}  // namespace
}  // namespace velmorin
