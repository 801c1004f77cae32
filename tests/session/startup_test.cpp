// SPDX-License-Identifier: MIT
// Start-up of the window program: a second copy is refused with its message
// while the first runs, the registration switches end the program without a
// window, and other arguments change nothing.
#include "session/startup.h"

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace velmorin {
namespace {

TEST(Startup, SecondStartIsRefused) {
    const testing::TempDirectory directory;
    const testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", directory.Path().string());
    // A lock of this run's own, whatever else runs on the machine.
    const std::string baseName = "velmorin-startup-test-" + std::to_string(testing::ProcessId());
    std::vector<std::string> messages;
    int dialogs = 0;
    const StartupHooks inner{[&](const std::string& text) { messages.push_back(text); },
                             [&] { ++dialogs; }};
    const StartupHooks outer{[&](const std::string& text) { messages.push_back(text); },
                             [&] {
                                 ++dialogs;
                                 // The first copy is running: a second start ends at once.
                                 EXPECT_EQ(RunStartup({}, baseName, inner),
                                           StartupEnd::AlreadyRunning);
                             }};
    EXPECT_EQ(RunStartup({"/Embedding", "some-file"}, baseName, outer), StartupEnd::DialogClosed);
    EXPECT_EQ(messages, std::vector<std::string>{"The program have run already!"});
    EXPECT_EQ(dialogs, 1);
    for (const char* switchText : {"/Regserver", "-unregister", "-REGISTER", "/UnregServer"}) {
        SCOPED_TRACE(switchText);
        EXPECT_EQ(RunStartup({switchText}, baseName, inner), StartupEnd::Registration);
    }
    EXPECT_EQ(dialogs, 1);
    for (const char* other : {"/Register2", "Register", "/", "", "/Embedding"}) {
        EXPECT_FALSE(IsRegistrationSwitch(other)) << other;
    }
}

}  // namespace
}  // namespace velmorin
