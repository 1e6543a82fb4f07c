#include "app/stop_sequence.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "app/shutdown.h"
#include "tests/support/engine_fixture.h"

using ::testing::ElementsAre;

namespace {

// What the window's steps did, in order, among the traces.
std::vector<std::string>* g_events = nullptr;
bool g_menuOpen = false;

void Note(const char* event) {
    g_events->push_back(event);
}

class StopSequenceTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        g_events = &events_;
        g_menuOpen = false;
        SetUiShutdownSteps([] { Note("kill timer"); }, [] { Note("shutdown's icon step"); });
    }

    // Runs the sequence; the exit code when it ended the process, -1 otherwise.
    int Run(StopReason reason) {
        const StopSequenceSteps steps = {
            [] { Note("release icon"); },
            [] { return g_menuOpen; },
            [] { Note("destroy menu"); },
            [] { Note("post quit"); },
        };
        try {
            RunStopSequence(reason, steps);
        } catch (const ExitCalled& exit) {
            return exit.code;
        }
        return -1;
    }

    std::vector<std::string> events_;
};

TEST_F(StopSequenceTest, SuspendWithoutMenuRemovesTheIconAndPostsQuit) {
    EXPECT_EQ(Run(StopReason::Suspend), -1);
    EXPECT_THAT(Traces(), ElementsAre("PBT_APMSUSPEND detected, will stop vorn_kvusb!\n"));
    EXPECT_THAT(events_, ElementsAre("release icon", "post quit"));
    EXPECT_FALSE(ShutdownBegun());  // WinMain runs it after the loop
}

TEST_F(StopSequenceTest, RemovalWithoutMenuTracesAfterPostingQuit) {
    EXPECT_EQ(Run(StopReason::OpticalUnitRemoved), -1);
    EXPECT_THAT(Traces(), ElementsAre("KVUSB cd removed, will stop vorn_kvusb thread!\n",
                                      "DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n"));
    EXPECT_THAT(events_, ElementsAre("release icon", "post quit"));
}

TEST_F(StopSequenceTest, WithTheMenuOpenItShutsDownAndExitsWithZero) {
    OpenProjector("");
    for (StopReason reason : {StopReason::Suspend, StopReason::OpticalUnitRemoved}) {
        g_nShutdownState.store(SHUTDOWN_NONE);
        events_.clear();
        ClearTraces();
        desktop_.FailChanges(false);
        g_menuOpen = true;
        EXPECT_EQ(Run(reason), 0);
        EXPECT_THAT(events_, ElementsAre("release icon", "destroy menu", "kill timer",
                                         "shutdown's icon step"));
        const std::vector<std::string> traces = Traces();
        EXPECT_EQ(traces[1], "vorn_kvusb quit with menu!\n");
        EXPECT_EQ(traces.back(), "vorn_kvusb end!\n");
        EXPECT_EQ(store_.Value("Software\\K7Q0KVUSB", "DispMode"), 0u);
        EXPECT_EQ(desktop_.Changes().back(), (std::pair<int, int>{kStartWidth, kStartHeight}));
        EXPECT_EQ(std::count(traces.begin(), traces.end(),
                             "DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n"),
                  0);
    }
}

TEST_F(StopSequenceTest, WithTheMenuOpenWhileAnotherShutdownRanItStillExits) {
    g_menuOpen = true;
    g_nShutdownState.store(SHUTDOWN_DONE);  // the sender thread's, after the projector was lost
    EXPECT_EQ(Run(StopReason::OpticalUnitRemoved), 0);
    EXPECT_THAT(events_, ElementsAre("release icon", "destroy menu"));
}

}  // namespace
