#include "app/frame_pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/passing_backend.h"
#include "tests/support/test_files.h"

namespace {

class FramePipelineTest : public EngineTest {
  protected:
    // The queue as the test sees it: which buffer each queued frame is in.
    static std::vector<int> QueuedBuffers() {
        std::lock_guard<std::mutex> hold(g_csFrames);
        std::vector<int> buffers;
        for (const CaptureFrameInfo& frame : g_FrameQueue) {
            buffers.push_back(frame.pixels == g_FrameBuffers[0] ? 0 : 1);
            uint32_t byteCount = frame.byteCount;  // a packed field, read by value
            EXPECT_EQ(byteCount, PROJECTOR_FRAME_BYTES);
        }
        return buffers;
    }
    static int NextBuffer() {
        std::lock_guard<std::mutex> hold(g_csFrames);
        return g_nNextBuffer;
    }

    CaptureFrameInfo info_{};
};

TEST_F(FramePipelineTest, FramesAlternateBetweenTheTwoBuffers) {
    SetCaptureState(CAPTURE_RUNNING);
    info_.status = 0;
    CaptureCallback(&info_);
    CaptureCallback(&info_);
    EXPECT_EQ(QueuedBuffers(), (std::vector<int>{0, 1}));
    PopFrame();
    CaptureCallback(&info_);
    EXPECT_EQ(QueuedBuffers(), (std::vector<int>{1, 0}));
    EXPECT_EQ(g_nQueuedFrames.load(), 2);
    PopFrame();
    PopFrame();
    CaptureCallback(&info_);
    EXPECT_EQ(NextBuffer(), 0);
    SetCaptureState(CAPTURE_STOPPED);
    PopFrame();
}

TEST_F(FramePipelineTest, CallbacksWithoutAUsableFrameQueueNothing) {
    info_.status = 0;
    EXPECT_EQ(CaptureCallback(&info_), 0);  // stopped
    SetCaptureState(CAPTURE_RUNNING);
    info_.status = -1;
    EXPECT_EQ(CaptureCallback(&info_), 0);
    EXPECT_EQ(g_nQueuedFrames.load(), 0);
    SetCaptureState(CAPTURE_STOPPED);
}

TEST_F(FramePipelineTest, WhileBlankEveryCallbackQueuesABlackFrameCapturedOrNot) {
    SetCaptureState(CAPTURE_RUNNING);
    std::memset(g_FrameBuffers, 0xAB, sizeof g_FrameBuffers);
    g_bBlankFrames.store(true);
    info_.status = KVCAP_E_CAPTURE_FAILED;  // the secure desktop cannot be captured
    EXPECT_EQ(CaptureCallback(&info_), 0);
    info_.status = 0;
    EXPECT_EQ(CaptureCallback(&info_), 0);
    ASSERT_EQ(QueuedBuffers(), (std::vector<int>{0, 1}));
    for (const uint8_t* frame : {g_FrameBuffers[0], g_FrameBuffers[1]}) {
        EXPECT_EQ(std::count(frame, frame + PROJECTOR_FRAME_BYTES, 0),
                  static_cast<ptrdiff_t>(PROJECTOR_FRAME_BYTES));
    }
    PopFrame();
    PopFrame();

    // Unlocked: a failed capture queues nothing again.
    g_bBlankFrames.store(false);
    info_.status = KVCAP_E_CAPTURE_FAILED;
    CaptureCallback(&info_);
    EXPECT_EQ(g_nQueuedFrames.load(), 0);
    SetCaptureState(CAPTURE_STOPPED);
}

// A frame the source calls unchanged is sent as the sender's kept frame again, so it may
// only follow a captured frame: never a blank one, nor be one while blanking, or the wall
// would show the desktop from before the lock.
TEST_F(FramePipelineTest, ARepeatStandsOnlyRightAfterACapturedFrame) {
    SetCaptureState(CAPTURE_RUNNING);
    info_.status = 0;
    auto queueOne = [this](bool blank, uint32_t flags) {
        g_bBlankFrames.store(blank);
        info_.frameFlags = flags;
        CaptureCallback(&info_);
        std::lock_guard<std::mutex> hold(g_csFrames);
        uint32_t queued = g_FrameQueue.back().frameFlags;
        g_FrameQueue.pop_front();
        g_nQueuedFrames.fetch_sub(1);
        return queued;
    };
    EXPECT_EQ(queueOne(false, 0), 0u);
    EXPECT_EQ(queueOne(false, KVCAP_FRAME_UNCHANGED), KVCAP_FRAME_UNCHANGED);
    EXPECT_EQ(queueOne(true, KVCAP_FRAME_UNCHANGED), 0u);   // locked: black
    EXPECT_EQ(queueOne(false, KVCAP_FRAME_UNCHANGED), 0u);  // unlocked: the sender kept black
    EXPECT_EQ(queueOne(false, KVCAP_FRAME_UNCHANGED), KVCAP_FRAME_UNCHANGED);
    SetCaptureState(CAPTURE_STOPPED);
}

TEST_F(FramePipelineTest, AFullQueueHoldsTheCallbackUntilThereIsRoom) {
    SetCaptureState(CAPTURE_RUNNING);
    info_.status = 0;
    CaptureCallback(&info_);
    CaptureCallback(&info_);
    std::atomic<bool> returned{false};
    std::thread capture([&] {
        CaptureFrameInfo third{};
        CaptureCallback(&third);
        returned.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(g_nQueuedFrames.load(), 2);
    PopFrame();
    capture.join();
    EXPECT_EQ(QueuedBuffers(), (std::vector<int>{1, 0}));  // nothing dropped

    // Stopping while it waits: it returns without copying.
    std::thread stopped([&] {
        CaptureFrameInfo fourth{};
        CaptureCallback(&fourth);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetCaptureState(CAPTURE_STOPPED);
    stopped.join();
    EXPECT_EQ(QueuedBuffers(), (std::vector<int>{1, 0}));
    EXPECT_EQ(NextBuffer(), 1);
    PopFrame();
    PopFrame();
}

// The projector frame (blue, green, red) cut from the picture at column `left`, row `top`.
std::vector<uint8_t> ExpectedWindow(const std::vector<uint8_t>& rgb, int width, int left, int top) {
    std::vector<uint8_t> bgr(PROJECTOR_FRAME_BYTES);
    for (int y = 0; y < PROJECTOR_HEIGHT; ++y) {
        for (int x = 0; x < PROJECTOR_WIDTH; ++x) {
            const uint8_t* from = &rgb[(static_cast<size_t>(y + top) * width + x + left) * 3];
            uint8_t* to = &bgr[(static_cast<size_t>(y) * PROJECTOR_WIDTH + x) * 3];
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return bgr;
}

struct ZoomCase {
    int zoom;
    int width, height, left, top;
    const char* link;  // 3.0 raw, 2.0 compressed
};

class ZoomWindowTest : public FramePipelineTest, public ::testing::WithParamInterface<ZoomCase> {};

// A replayed picture repeats itself: from the second frame on the source says so, and the
// frame, copied and cut no more, is sent again from what the sender kept, into both banks.
TEST_P(ZoomWindowTest, TheProjectorShowsTheCentreWindow) {
    ZoomCase c = GetParam();
    std::string path = ::testing::TempDir() + "zoom_" + std::to_string(c.zoom) + ".ppm";
    std::vector<uint8_t> picture = WriteCapturedPicture(path, c.width, c.height);
    KVCapSetSource(("synthetic:ppm=" + path).c_str());
    StartSession(std::string("link=") + c.link, c.zoom);
    ASSERT_TRUE(WaitForFramesShown(3));
    emu::EmulatorReport report = m_projector->Report();
    EXPECT_EQ(report.protocolErrorCount, 0u);
    EXPECT_GE(report.projectors[0].framesCompleted[1], 1);
    std::vector<uint8_t> shown = m_projector->LastFrame();
    std::vector<uint8_t> expected = ExpectedWindow(picture, c.width, c.left, c.top);
    ASSERT_EQ(shown.size(), expected.size());
    // First pixel: captured pixel (left, top).
    EXPECT_EQ(shown[0], expected[0]);
    EXPECT_EQ(shown[1], static_cast<uint8_t>(c.top));
    EXPECT_EQ(shown[2], static_cast<uint8_t>(c.left));
    EXPECT_TRUE(shown == expected);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Zooms, ZoomWindowTest,
                         ::testing::Values(ZoomCase{ZOOM_ORIGINAL, 854, 480, 0, 0, "3.0"},
                                           ZoomCase{ZOOM_1, 1136, 480, 141, 0, "3.0"},
                                           ZoomCase{ZOOM_2, 854, 848, 0, 184, "3.0"},
                                           ZoomCase{ZOOM_ORIGINAL, 854, 480, 0, 0, "2.0"},
                                           ZoomCase{ZOOM_2, 854, 848, 0, 184, "2.0"}),
                         [](const auto& info) { return "Zoom" + std::to_string(info.index); });

TEST_F(FramePipelineTest, NinetyNineFailuresThenASuccessResetTheCount) {
    StartDevice("link=3.0");
    m_projector->FailNext(99, 31);
    OpenCapture();
    ASSERT_TRUE(WaitForFramesShown(1));
    CloseCapture();
    EXPECT_EQ(g_nLinkErrors, 0u);
    EXPECT_EQ(WaitForExit(0), -1);
    // The 100th frame handled, failures counted, closes a statistics window.
    std::vector<std::string> traces = Traces();
    int cost = -1;
    for (int i = 0; i < static_cast<int>(traces.size()); ++i) {
        unsigned frames = 0, ms = 0;
        if (std::sscanf(traces[i].c_str(), "%u frame cost %u ms\n", &frames, &ms) == 2) {
            EXPECT_EQ(frames, 100u);
            cost = i;
            unsigned fps = 0;
            ASSERT_LT(i + 1, static_cast<int>(traces.size()));
            ASSERT_EQ(std::sscanf(traces[i + 1].c_str(), "Frame rate: %u fps\n", &fps), 1);
            EXPECT_EQ(fps, 100u * 1000 / std::max(ms, 1u));
            EXPECT_EQ(traces[i + 1], "Frame rate: " + std::to_string(fps) + " fps\n");
        }
    }
    EXPECT_GE(cost, 0);
    EXPECT_LT(g_nStatFrames, 100u);
}

TEST_F(FramePipelineTest, TheHundredthFailureEndsTheProgramThroughTheFullShutdown) {
    g_nScreenWidth = kStartWidth;
    g_nScreenHeight = kStartHeight;
    StartDevice("link=3.0");
    ChangeDesktopSize(800, 600);
    DispMode.store(DISP_MODE_800X600);
    m_projector->FailNext(100, 31);
    OpenCapture();
    EXPECT_EQ(WaitForExit(), 0);
    int at = TraceIndex("USB Link error, vorn_kvusb end!!!\n");
    ASSERT_GE(at, 0);
    for (const char* line :
         {"SetDisplaySettings - nDispMode: 0x1, nZoomMode: 0x0\n", " KVCapAPI_Close success\n",
          " KVCapAPI_Release success\n", " KVCapAPI_Uninitialize success\n", "vorn_kvusb end!\n"}) {
        at = TraceIndex(line, at);
        EXPECT_GE(at, 0) << line;
    }
    EXPECT_EQ(g_hCapture.load(), NO_CAPTURE);
    EXPECT_EQ(g_hDisk1, nullptr);
    EXPECT_EQ(g_hDisk2, nullptr);
    EXPECT_EQ(m_desktop.Changes().back(), std::make_pair(kStartWidth, kStartHeight));
    EXPECT_EQ(m_store.Value(kSettingsKey, "DispMode"), 1u);
    EXPECT_EQ(m_projector->Report().projectors[0].framesCompleted[0] +
                  m_projector->Report().projectors[0].framesCompleted[1],
              0);
}

// The device-loss end calls exit from the sender thread while the capture callback may be
// waiting for room in the queue; the exit-time destructions must not wait for it. (Windows
// ends such a process without them.)
#ifndef _WIN32
TEST_F(FramePipelineTest, TheProcessEndsWhileACallbackWaitsForRoom) {
    EXPECT_EXIT(
        {
            alarm(10);  // a hang ends as SIGALRM rather than as a test that never returns
            SetCaptureState(CAPTURE_RUNNING);
            info_.status = 0;
            CaptureCallback(&info_);
            CaptureCallback(&info_);
            std::thread([] {
                CaptureFrameInfo third{};
                CaptureCallback(&third);
            }).detach();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(FramePipelineTest, ALostProjectorOnTheFirstFrameEndsTheProgramAtOnce) {
    g_nScreenWidth = kStartWidth;
    g_nScreenHeight = kStartHeight;
    ZoomMode.store(ZOOM_1);
    StartSession("link=2.0,vanish_at_slice=0");
    EXPECT_EQ(WaitForExit(), 0);
    std::vector<std::string> traces = Traces();
    int at = TraceIndex("ERROR_DEVICE_NOT_CONNECTED, vorn_kvusb end!!!\n");
    ASSERT_GE(at, 0);
    EXPECT_EQ(TraceIndex("SetDisplaySettings - nDispMode: 0x0, nZoomMode: 0x1\n", at), at + 1);
    EXPECT_EQ(TraceIndex("vorn_kvusb end!\n", at), at + 2);
    // The capture library and the units are left alone.
    EXPECT_FALSE(Traced(" KVCapAPI_Close success\n"));
    EXPECT_NE(g_hCapture.load(), NO_CAPTURE);
    EXPECT_NE(g_hDisk1, nullptr);
    EXPECT_EQ(m_store.Value(kSettingsKey, "ZoomMode"), 1u);
    EXPECT_TRUE(m_desktop.Changes().empty());  // the mirror mode is not forced back
}

// Passes everything on to the projector, but holds the sender in the `holdAt`-th frame write
// (from 1) until the session is closing, so that a test knows where the sender is without
// reading the clock.
class HeldWrite final : public PassingBackend {
  public:
    HeldWrite(DeviceBackend* projector, int holdAt) : PassingBackend(projector), m_holdAt(holdAt) {}

    bool Holding() const { return m_holding.load(); }

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        if (request.cdb[0] == 0xFF && ++m_writes == m_holdAt) {
            m_holding.store(true);
            while (g_nCaptureState.load() == CAPTURE_RUNNING) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return PassingBackend::SendScsi(unit, request);
    }

  private:
    const int m_holdAt;
    int m_writes = 0;  // the sender thread's
    std::atomic<bool> m_holding{false};
};

TEST_F(FramePipelineTest, ClosingWithFramesQueuedEmptiesTheQueue) {
    StartDevice("link=3.0");
    HeldWrite held(m_projector.get(), 2);
    g_pDeviceBackend = &held;
    OpenCapture();
    // The sender is in the first frame's second slice; the queue fills up behind it.
    ASSERT_TRUE(
        WaitUntil([&] { return held.Holding() && g_nQueuedFrames.load() == MAX_QUEUED_FRAMES; }));
    CloseCapture();
    EXPECT_EQ(g_nQueuedFrames.load(), 0);
    EXPECT_TRUE(QueuedBuffers().empty());
    EXPECT_EQ(g_hSenderThread.load(), nullptr);
    // The frame in flight was abandoned after the slice it was writing, without its
    // frame-done.
    std::vector<emu::CommandRecord> log = m_projector->CommandLog();
    int writesSinceFrameDone = 0;
    for (const emu::CommandRecord& command : log) {
        writesSinceFrameDone = command.cdb[0] == 0xFE ? 0 : writesSinceFrameDone + 1;
    }
    EXPECT_EQ(writesSinceFrameDone, 2);
    EXPECT_EQ(m_projector->CommandLog().size(), log.size());
}

TEST_F(FramePipelineTest, ANewSessionStartsAgainAtBufferZero) {
    StartDevice("link=3.0");
    HeldWrite held(m_projector.get(), 1);
    g_pDeviceBackend = &held;
    // One frame leaves the next one for buffer 1.
    SetCaptureState(CAPTURE_RUNNING);
    CaptureCallback(&info_);
    SetCaptureState(CAPTURE_STOPPED);
    PopFrame();
    ASSERT_EQ(NextBuffer(), 1);
    OpenCapture();
    // The sender holds the session's first frame at the front of the queue.
    ASSERT_TRUE(WaitUntil([&] { return held.Holding(); }));
    EXPECT_EQ(QueuedBuffers().front(), 0);
    CloseCapture();
}

TEST_F(FramePipelineTest, ReopeningKeepsTheCountersAndTheBankToggle) {
    StartDevice("link=3.0");
    m_projector->FailNext(3, 31);
    OpenCapture();
    ASSERT_TRUE(WaitForFramesShown(2));
    // The counters are the sender's own: read them while no sender runs.
    CloseCapture();
    uint32_t frames = g_nStatFrames;
    EXPECT_EQ(frames % 2, static_cast<uint32_t>(g_bFrameToggle));
    EXPECT_EQ(g_nLinkErrors, 0u);
    g_nLinkErrors = 7;
    OpenCapture();
    CloseCapture();
    EXPECT_GE(g_nStatFrames, frames);
    EXPECT_EQ(g_nStatFrames % 2, static_cast<uint32_t>(g_bFrameToggle));
    EXPECT_TRUE(g_nLinkErrors == 7 || g_nLinkErrors == 0);
}

}  // namespace
