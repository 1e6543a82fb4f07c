#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "kvcap/desktop_target_linux.h"
#include "kvcap/kvcap_api.h"
#include "platform/desktop_xrandr_linux.h"
#include "platform/x11_monitor_linux.h"
#include "tests/kvcap/test_support.h"
#include "tests/mirror/x11_test_client.h"
#include "tests/mirror/xvfb_server.h"
#include "tests/support/trace_recorder.h"

// The X11 desktop source and desktop on an X server of their own: a window of a known colour
// is put on the screen and looked for in the frames.

namespace {

constexpr uint8_t kRed = 0x20, kGreen = 0xC0, kBlue = 0x60;
constexpr unsigned long kColour = (kRed << 16) | (kGreen << 8) | kBlue;  // 24-bit TrueColor

class X11CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!XvfbServer::Installed()) {
            GTEST_SKIP() << "Xvfb is not installed";
        }
        KVCapSetSource("desktop");
    }

    void TearDown() override { SetDesktopTarget({}); }

    void StartServer(int width, int height, const std::vector<std::string>& arguments = {}) {
        server_ = XvfbServer::Start(width, height, arguments);
        ASSERT_NE(server_, nullptr) << "no Xvfb would start";
        client_ = std::make_unique<X11TestClient>();
        ASSERT_TRUE(client_->Connected());
    }

    // Opens a session, waits for `frames` frames, ends it. Frames kept as FrameRecorder keeps
    // them.
    void Capture(FrameRecorder* recorder, int width, int height, int fps, int cursorMode,
                 size_t frames) {
        g_Recorder = recorder;
        KVCapHandle handle = 0;
        ASSERT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
        recorder->handle = handle;
        EXPECT_EQ(KVCapAPI_SetCursorMode(handle, cursorMode), KVCAP_OK);
        EXPECT_EQ(KVCapAPI_SetMaxFPS(handle, fps), KVCAP_OK);
        EXPECT_EQ(KVCapAPI_Open(handle, RecordFrame, 0, width, height), KVCAP_OK);
        EXPECT_EQ(KVCapAPI_Start(handle), KVCAP_OK);
        EXPECT_TRUE(recorder->WaitForFrames(frames));
        EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
        g_Recorder = nullptr;
    }

    // Starts a session of 854 x 480 at 30 frames a second recording into `recorder`, showing
    // `window` (0: the desktop); ended by KVCapAPI_Uninitialize.
    void StartSession(FrameRecorder* recorder, uint64_t window = 0) {
        g_Recorder = recorder;
        KVCapHandle handle = 0;
        ASSERT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
        recorder->handle = handle;
        EXPECT_EQ(KVCapAPI_SetMaxFPS(handle, 30), KVCAP_OK);
        EXPECT_EQ(KVCapSetWindow(handle, window), KVCAP_OK);
        EXPECT_EQ(KVCapAPI_Open(handle, RecordFrame, 0, 854, 480), KVCAP_OK);
        EXPECT_EQ(KVCapAPI_Start(handle), KVCAP_OK);
    }

    TraceRecorder m_traces;
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<X11TestClient> client_;
};

const uint8_t* PixelAt(const std::vector<uint8_t>& frame, int width, int x, int y) {
    return frame.data() + (static_cast<size_t>(y) * width + x) * 3;
}

bool IsColour(const uint8_t* pixel, uint8_t blue, uint8_t green, uint8_t red) {
    return pixel[0] == blue && pixel[1] == green && pixel[2] == red;
}

// True once the latest frame has that status, false after 10 s.
bool WaitForStatus(FrameRecorder* recorder, int status) {
    std::unique_lock lock(recorder->mutex);
    return recorder->changed.wait_for(lock, std::chrono::seconds(10), [&] {
        return !recorder->frames.empty() && recorder->frames.back().status == status;
    });
}

TEST_F(X11CaptureTest, FramesHaveTheSessionSizeInBlueGreenRedNoFasterThanAsked) {
    ASSERT_NO_FATAL_FAILURE(StartServer(1920, 1080));
    client_->ShowColour(kColour, 480, 270, 960, 540);  // the middle quarter
    FrameRecorder recorder;
    constexpr int kFps = 10;
    Capture(&recorder, 854, 480, kFps, 0, 14);
    ASSERT_GE(recorder.frames.size(), 14u);
    EXPECT_NE(m_traces.Text().find(" kvcap: 854x480 from X11 shared memory\n"), std::string::npos);
    // Any T seconds hold at most T x fps frames and the two a late start may add: the 13
    // frames from the second on take at least 1.1 s.
    auto window = recorder.frames[13].time - recorder.frames[1].time;
    EXPECT_GE(window, std::chrono::milliseconds(1000 * (13 - 2) / kFps));
    const std::vector<uint8_t>& frame = recorder.frames[3].pixels;
    ASSERT_EQ(frame.size(), 854u * 480 * 3);
    EXPECT_EQ(recorder.frames[3].status, KVCAP_OK);
    // The window covers x 213.5 to 640.5 and y 120 to 360 of the frame; an even colour
    // averages to itself, the background to black.
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 427, 240), kBlue, kGreen, kRed));
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 214, 120), kBlue, kGreen, kRed));
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 639, 359), kBlue, kGreen, kRed));
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 212, 120), 0, 0, 0));
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 427, 119), 0, 0, 0));
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 427, 360), 0, 0, 0));
    // Column 213 is half window, half black.
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 213, 240), kBlue / 2, kGreen / 2, kRed / 2));
}

// A screen nobody draws on is read once and delivered again; drawing is seen at once.
TEST_F(X11CaptureTest, WhatIsDrawnDuringTheSessionShowsInTheNextFrames) {
    ASSERT_NO_FATAL_FAILURE(StartServer(854, 480));
    FrameRecorder recorder;
    recorder.firstCallbackDelay = std::chrono::milliseconds(300);
    std::thread draw([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // during the first frame
        client_->ShowColour(kColour, 0, 0, 854, 480);
    });
    Capture(&recorder, 854, 480, 10, 0, 3);
    draw.join();
    ASSERT_GE(recorder.frames.size(), 3u);
    EXPECT_TRUE(IsColour(PixelAt(recorder.frames[0].pixels, 854, 400, 200), 0, 0, 0));
    EXPECT_TRUE(IsColour(PixelAt(recorder.frames[2].pixels, 854, 400, 200), kBlue, kGreen, kRed));
}

TEST_F(X11CaptureTest, TheCursorIsDrawnInCursorMode1Only) {
    ASSERT_NO_FATAL_FAILURE(StartServer(854, 480));
    client_->ShowColour(kColour, 0, 0, 854, 480);
    client_->MovePointer(400, 200);
    auto coveredNearPointer = [](const std::vector<uint8_t>& frame) {
        int covered = 0;
        for (int y = 184; y < 216; ++y) {
            for (int x = 384; x < 416; ++x) {
                covered += IsColour(PixelAt(frame, 854, x, y), kBlue, kGreen, kRed) ? 0 : 1;
            }
        }
        return covered;
    };
    FrameRecorder withCursor;
    Capture(&withCursor, 854, 480, 30, 1, 2);
    ASSERT_GE(withCursor.frames.size(), 2u);
    EXPECT_GT(coveredNearPointer(withCursor.frames[1].pixels), 20);
    FrameRecorder withoutCursor;
    Capture(&withoutCursor, 854, 480, 30, 0, 2);
    ASSERT_GE(withoutCursor.frames.size(), 2u);
    EXPECT_EQ(coveredNearPointer(withoutCursor.frames[1].pixels), 0);
}

// A large screen is read in bands of rows: the cursor lands where it is, whichever band holds
// it, and nowhere else.
TEST_F(X11CaptureTest, OnALargeScreenTheCursorIsDrawnWhereItIsAndNowhereElse) {
    ASSERT_NO_FATAL_FAILURE(StartServer(1920, 1080));
    client_->ShowColour(kColour, 0, 0, 1920, 1080);
    client_->MovePointer(960, 600);  // frame pixel 426.7, 266.7
    FrameRecorder recorder;
    Capture(&recorder, 854, 480, 30, 1, 2);
    ASSERT_GE(recorder.frames.size(), 2u);
    const std::vector<uint8_t>& frame = recorder.frames[1].pixels;
    int near = 0;
    int elsewhere = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 854; ++x) {
            bool covered = !IsColour(PixelAt(frame, 854, x, y), kBlue, kGreen, kRed);
            bool nearPointer = x >= 416 && x < 440 && y >= 256 && y < 282;
            (nearPointer ? near : elsewhere) += covered ? 1 : 0;
        }
    }
    EXPECT_GT(near, 10);
    EXPECT_EQ(elsewhere, 0);
}

TEST_F(X11CaptureTest, WithoutSharedMemoryTheScreenIsReadWithXGetImage) {
    ASSERT_NO_FATAL_FAILURE(StartServer(1280, 720, {"-extension", "MIT-SHM"}));
    client_->ShowColour(kColour, 0, 0, 640, 720);  // the left half
    FrameRecorder recorder;
    Capture(&recorder, 854, 480, 30, 0, 2);
    ASSERT_GE(recorder.frames.size(), 2u);
    EXPECT_NE(m_traces.Text().find(" kvcap: 854x480 from X11 XGetImage\n"), std::string::npos);
    const std::vector<uint8_t>& frame = recorder.frames[1].pixels;
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 426, 0), kBlue, kGreen, kRed));
    EXPECT_TRUE(IsColour(PixelAt(frame, 854, 427, 479), 0, 0, 0));
}

// The desktop switched to 800 x 600 and back, as the 800x600 display mode does, with a
// session that goes on capturing the new screen without being reopened.
TEST_F(X11CaptureTest, TheDesktopChangesSizeAndCaptureFollows) {
    ASSERT_NO_FATAL_FAILURE(StartServer(1920, 1080));
    client_->OfferMode(800, 600);
    client_->ShowColour(kColour, 0, 0, 400, 1080);  // 400 pixels: half of 800, a fifth of 1920
    std::unique_ptr<XRandrDesktop> desktop(XRandrDesktop::Open(nullptr));
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(desktop->Width(), 1920);
    EXPECT_EQ(desktop->Height(), 1080);
    EXPECT_FALSE(desktop->ChangeSize(1024, 768));  // no such mode
    EXPECT_TRUE(desktop->ChangeSize(800, 600));
    EXPECT_EQ(desktop->Width(), 800);
    EXPECT_EQ(desktop->Height(), 600);
    EXPECT_TRUE(desktop->TakeScreenChange());

    FrameRecorder recorder;
    Capture(&recorder, 854, 480, 30, 0, 2);
    ASSERT_GE(recorder.frames.size(), 2u);
    EXPECT_TRUE(IsColour(PixelAt(recorder.frames[1].pixels, 854, 426, 240), kBlue, kGreen, kRed));
    EXPECT_TRUE(IsColour(PixelAt(recorder.frames[1].pixels, 854, 427, 240), 0, 0, 0));

    EXPECT_TRUE(desktop->ChangeSize(1920, 1080));
    EXPECT_EQ(desktop->Width(), 1920);
    EXPECT_EQ(desktop->Height(), 1080);
}

// A monitor of the program's own beside the screen, taken away during the session as the
// program takes it away when it ends: the frames fail, rather than a 0 x 0 area being read and
// scaled, until the monitor is back.
TEST_F(X11CaptureTest, AMonitorTakenAwayFailsFramesUntilItIsBack) {
    ASSERT_NO_FATAL_FAILURE(StartServer(1708, 480));  // the largest the screen may grow to
    client_->OfferMode(854, 480);
    std::unique_ptr<XRandrDesktop> desktop(XRandrDesktop::Open(nullptr));
    ASSERT_NE(desktop, nullptr);
    ASSERT_TRUE(desktop->ChangeSize(854, 480));
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    AddedMonitor monitor;
    std::string why;
    ASSERT_TRUE(AddX11Monitor(display, "KVTEST", 854, 480, &monitor, &why)) << why;
    client_->ShowColour(kColour, 854, 0, 854, 480);
    DesktopTarget target;
    target.kind = DesktopTargetKind::X11Monitor;
    target.monitorName = "KVTEST";
    SetDesktopTarget(target);

    FrameRecorder recorder;
    ASSERT_NO_FATAL_FAILURE(StartSession(&recorder));
    EXPECT_TRUE(recorder.WaitForFrames(2));
    RemoveX11Monitor(display, monitor);
    EXPECT_TRUE(WaitForStatus(&recorder, KVCAP_E_CAPTURE_FAILED));
    EXPECT_TRUE(AddX11Monitor(display, "KVTEST", 854, 480, &monitor, &why)) << why;
    EXPECT_TRUE(WaitForStatus(&recorder, KVCAP_OK));
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
    g_Recorder = nullptr;
    XCloseDisplay(display);

    ASSERT_GE(recorder.frames.size(), 2u);
    EXPECT_EQ(recorder.frames[1].status, KVCAP_OK);
    EXPECT_TRUE(IsColour(PixelAt(recorder.frames[1].pixels, 854, 427, 240), kBlue, kGreen, kRed));
    EXPECT_NE(m_traces.Text().find(" kvcap: the X screen has no monitor KVTEST\n"),
              std::string::npos);
}

// Every pixel of a frame: `inside` within columns [left, right) and rows [top, bottom), black
// elsewhere.
bool ShowsBox(const std::vector<uint8_t>& frame, int left, int top, int right, int bottom) {
    if (frame.size() != 854u * 480 * 3) {
        return false;
    }
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 854; ++x) {
            bool inside = x >= left && x < right && y >= top && y < bottom;
            if (!IsColour(PixelAt(frame, 854, x, y), inside ? kBlue : 0, inside ? kGreen : 0,
                          inside ? kRed : 0)) {
                return false;
            }
        }
    }
    return true;
}

// One window through XComposite: its own pixels where another window covers it, fitted between
// bars wherever it moves; a resize refits it; once it is destroyed the frames say so.
TEST_F(X11CaptureTest, OneWindowIsReadUnderWhatCoversItFittedAndFollowed) {
    ASSERT_NO_FATAL_FAILURE(StartServer(1280, 1024));
    unsigned long window = client_->ShowColour(kColour, 100, 80, 200, 480);
    client_->ShowColour(0xFF0000, 150, 200, 400, 100);  // on top of it
    FrameRecorder recorder;
    ASSERT_NO_FATAL_FAILURE(StartSession(&recorder, window));
    // 200 x 480 at its own size: bars of 327 columns left and right.
    EXPECT_TRUE(recorder.WaitForPicture(
        [](const std::vector<uint8_t>& frame) { return ShowsBox(frame, 327, 0, 527, 480); }));
    client_->MoveWindow(window, 900, 500);  // half off the screen
    client_->ResizeWindow(window, 427, 120);
    // Twice its size, 854 x 240, between bars of 120 rows.
    EXPECT_TRUE(recorder.WaitForPicture(
        [](const std::vector<uint8_t>& frame) { return ShowsBox(frame, 0, 120, 854, 360); }));
    client_->DestroyWindow(window);
    EXPECT_TRUE(WaitForStatus(&recorder, KVCAP_E_WINDOW_GONE));
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);

    // A window gone before the session opens says so from the first frame.
    FrameRecorder gone;
    ASSERT_NO_FATAL_FAILURE(StartSession(&gone, window));
    EXPECT_TRUE(gone.WaitForFrames(1));
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
    g_Recorder = nullptr;
    EXPECT_EQ(gone.frames[0].status, KVCAP_E_WINDOW_GONE);
}

TEST_F(X11CaptureTest, WithoutADisplayTheSessionDoesNotOpenAndSaysWhy) {
    unsetenv("DISPLAY");
    KVCapHandle handle = 0;
    ASSERT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
    ASSERT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Open(handle, RecordFrame, 0, 854, 480), KVCAP_E_SOURCE_FAILED);
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
    EXPECT_NE(m_traces.Text().find(" kvcap: cannot open the X display (DISPLAY is not set)\n"),
              std::string::npos);
    EXPECT_EQ(XRandrDesktop::Open(nullptr), nullptr);
}

}  // namespace
