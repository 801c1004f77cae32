// SPDX-License-Identifier: MIT
// The main window logic with a run on a worker thread against a simulated
// charger (velmorin-sim, a Linux program): its calls reach the view on the
// view's thread only.
#include <gtest/gtest.h>

#include "session/main_window_logic_fixture.h"
#include "support/test_support.h"

namespace velmorin {
namespace {

// An upgrade on a worker thread against a simulated charger: every call it
// makes on the window arrives on the view's thread, in the order of the
// same upgrade run inline, and the end of the run is handled there too.
class MainWindowLogicWorkerTest : public MainWindowLogicTest {};

TEST_F(MainWindowLogicWorkerTest, WorkerRunReachesTheViewOnItsOwnThread) {
    testing::BackgroundProgram charger({VELMORIN_SIM, "serial", "--dir", Dir().string(), "--port",
                                        "COM201", "--model-code", "0x2A", "--save",
                                        (Dir() / "received.bin").string()});
    ASSERT_TRUE(testing::WaitForFile(Dir() / "COM201.json"));
    m_devices = {Charger("COM201", "Varno Test", "TCOM201")};
    // 1000 bytes: 62 whole blocks of 16 and a short one.
    const std::string file = Sealed("update.bin", "V1.02", 0x2A, 1000);

    // The same upgrade inline first: the order of its calls is the reference.
    {
        MainWindowLogic& logic = Open();
        m_window.SetPathText(file);
        m_window.calls.clear();
        logic.OnUpdate();
        ASSERT_EQ(logic.LastReport().outcome, UpgradeOutcome::Completed)
            << logic.LastReport().message;
    }
    const std::vector<std::string> inlineCalls = m_window.calls;
    std::filesystem::remove(Dir() / "received.bin");

    QueuedViewThread viewThread;
    WorkerUpgradeRunner worker(viewThread);
    MainWindowLogic& logic = Open(worker);
    m_window.SetPathText(file);
    m_window.calls.clear();
    m_window.callThreads.clear();
    logic.OnUpdate();
    // The command returned with the run going on; nothing of it has reached
    // the view, which has not turned yet.
    EXPECT_TRUE(logic.Upgrading());
    EXPECT_TRUE(m_window.boxes.empty());
    ASSERT_TRUE(viewThread.PumpUntil([&] { return !logic.Upgrading(); }, std::chrono::seconds(60)))
        << "the run did not end";

    EXPECT_EQ(logic.LastReport().outcome, UpgradeOutcome::Completed);
    EXPECT_EQ(m_window.boxes,
              (std::vector<Box>{{"Upgrade completion!", "Success", MessageIcon::None}}));
    const std::thread::id viewId = std::this_thread::get_id();
    EXPECT_TRUE(std::all_of(m_window.callThreads.begin(), m_window.callThreads.end(),
                            [&](std::thread::id id) { return id == viewId; }));
    const std::set<std::thread::id> posters = viewThread.Posters();
    EXPECT_TRUE(std::any_of(posters.begin(), posters.end(), [&](std::thread::id id) {
        return id != viewId;
    })) << "nothing was posted from a worker";
    EXPECT_EQ(m_window.calls, inlineCalls);
    // Held before the run reads the selection and pins the file, and
    // before the dispatch reads the selection and the procedure begins.
    ASSERT_GE(m_window.calls.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(m_window.calls.begin(), m_window.calls.begin() + 6),
              (std::vector<std::string>{"hold:on", "list:off", "read:selection", "read:path",
                                        "read:selection", "update:off"}));
    EXPECT_GT(m_window.progressMaximum, 60);
    EXPECT_FALSE(m_window.held);
    EXPECT_TRUE(m_window.listEnabled);
    EXPECT_EQ(m_window.selectedLine, 0);
    EXPECT_TRUE(m_window.updateEnabled);
    EXPECT_TRUE(testing::WaitForFile(Dir() / "received.bin"));
}

}  // namespace
}  // namespace velmorin
