#include "app/stop_sequence.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "app/program_window.h"
#include "app/shutdown.h"
#include "tests/support/engine_fixture.h"

using ::testing::ElementsAre;

namespace {

// A window that notes its steps in order.
class NotingWindow final : public ProgramWindow {
  public:
    int RunLoop() override { return 0; }
    void StopFaultPoll() override { events.push_back("kill timer"); }
    void ReleaseTrayIcon() override { events.push_back("release icon"); }
    bool ContextMenuOpen() override { return menuOpen; }
    void DestroyContextMenu() override { events.push_back("destroy menu"); }
    void PostQuit() override { events.push_back("post quit"); }

    std::vector<std::string> events;
    bool menuOpen = false;
};

class StopSequenceTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        AttachProgramWindow(&m_window);
    }

    // Runs the sequence; the exit code when it ended the process, -1 otherwise.
    int Run(StopReason reason) {
        try {
            RunStopSequence(reason, m_window);
        } catch (const ExitCalled& exit) {
            return exit.code;
        }
        return -1;
    }

    NotingWindow m_window;
};

TEST_F(StopSequenceTest, SuspendWithoutMenuRemovesTheIconAndPostsQuit) {
    EXPECT_EQ(Run(StopReason::Suspend), -1);
    EXPECT_THAT(Traces(), ElementsAre("PBT_APMSUSPEND detected, will stop vorn_kvusb!\n"));
    EXPECT_THAT(m_window.events, ElementsAre("release icon", "post quit"));
    EXPECT_FALSE(ShutdownBegun());  // WinMain runs it after the loop
}

TEST_F(StopSequenceTest, RemovalWithoutMenuTracesAfterPostingQuit) {
    EXPECT_EQ(Run(StopReason::OpticalUnitRemoved), -1);
    EXPECT_THAT(Traces(), ElementsAre("KVUSB cd removed, will stop vorn_kvusb thread!\n",
                                      "DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n"));
    EXPECT_THAT(m_window.events, ElementsAre("release icon", "post quit"));
}

TEST_F(StopSequenceTest, WithTheMenuOpenItShutsDownAndExitsWithZero) {
    OpenProjector("");
    for (StopReason reason : {StopReason::Suspend, StopReason::OpticalUnitRemoved}) {
        g_nShutdownState.store(SHUTDOWN_NONE);
        m_window.events.clear();
        ClearTraces();
        m_desktop.FailChanges(false);
        m_window.menuOpen = true;
        EXPECT_EQ(Run(reason), 0);
        EXPECT_THAT(m_window.events,
                    ElementsAre("release icon", "destroy menu", "kill timer", "release icon"));
        const std::vector<std::string> traces = Traces();
        EXPECT_EQ(traces[1], "vorn_kvusb quit with menu!\n");
        EXPECT_EQ(traces.back(), "vorn_kvusb end!\n");
        EXPECT_EQ(m_store.Value("Software\\K7Q0KVUSB", "DispMode"), 0u);
        EXPECT_TRUE(m_desktop.Changes().empty());  // the mirror mode is not forced back
        EXPECT_EQ(std::count(traces.begin(), traces.end(),
                             "DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n"),
                  0);
    }
}

TEST_F(StopSequenceTest, WithTheMenuOpenWhileAnotherShutdownRanItStillExits) {
    m_window.menuOpen = true;
    g_nShutdownState.store(SHUTDOWN_DONE);  // the sender thread's, after the projector was lost
    EXPECT_EQ(Run(StopReason::OpticalUnitRemoved), 0);
    EXPECT_THAT(m_window.events, ElementsAre("release icon", "destroy menu"));
}

}  // namespace
