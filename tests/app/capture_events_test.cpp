#include "app/capture_events.h"

#include <gmock/gmock.h>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "tests/support/engine_fixture.h"

using ::testing::Contains;

namespace {

class CaptureEventsTest : public EngineTest {};

TEST_F(CaptureEventsTest, ASavedZoomRestartsTheRunningSessionWithIt) {
    StartSession("", ZOOM_ORIGINAL);
    ZoomMode.store(ZOOM_2);
    ApplySavedZoom();
    EXPECT_EQ(g_nCaptureZoom, ZOOM_2);
    EXPECT_THAT(Traces(), Contains("854, 848\n"));
    EXPECT_EQ(g_nCaptureState.load(), CAPTURE_RUNNING);
}

TEST_F(CaptureEventsTest, TheOriginalSizeLeavesTheSessionAlone) {
    StartSession("", ZOOM_ORIGINAL);
    ClearTraces();
    ApplySavedZoom();
    EXPECT_TRUE(Traces().empty());
    EXPECT_EQ(g_nCaptureZoom, ZOOM_ORIGINAL);
}

TEST_F(CaptureEventsTest, ADisplayChangeReopensTheSessionAtItsZoom) {
    StartSession("", ZOOM_1);
    ClearTraces();
    OnDisplayChangeMessage();
    const std::vector<std::string> traces = Traces();
    EXPECT_EQ(traces.front(), "WM_DISPLAYCHANGE!!!!!!!!!!!!!!!!!\n");
    EXPECT_THAT(traces, Contains(" KVCapAPI_Close success\n"));
    EXPECT_THAT(traces, Contains("1136, 480\n"));
    EXPECT_EQ(traces.back(), "OnDisplayChange ok\n");
}

}  // namespace
