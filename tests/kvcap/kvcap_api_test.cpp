#include "kvcap/kvcap_api.h"

#include <gtest/gtest.h>

#include <string>

#include "kvcap/synthetic_pattern.h"
#include "tests/kvcap/test_support.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct Size {
    int width;
    int height;
};

// A library initialised on the synthetic pattern and one handle, set up the way the
// program sets up its sessions.
class KVCapApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        KVCapSetSource("synthetic");
        ASSERT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_Create(&m_handle), KVCAP_OK);
        m_recorder.handle = m_handle;
        g_Recorder = &m_recorder;
    }

    void TearDown() override {
        m_recorder.stopped = true;
        KVCapAPI_Uninitialize();
        g_Recorder = nullptr;
    }

    void OpenAndStart(Size size, int fps = 45) {
        ASSERT_EQ(KVCapAPI_SetCursorMode(m_handle, 1), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_SetMaxFPS(m_handle, fps), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_SetFullscreen(m_handle, 1), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_SetColorFormat(m_handle, CF_24BPP_888), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_Open(m_handle, RecordFrame, 0, size.width, size.height), KVCAP_OK);
        ASSERT_EQ(KVCapAPI_Start(m_handle), KVCAP_OK);
    }

    // Stops like the pipeline does: its state first, then the library.
    void StopAndClose() {
        m_recorder.stopped = true;
        ASSERT_EQ(KVCapAPI_Close(m_handle), KVCAP_OK);
    }

    void ExpectPatternFrames(Size size) {
        std::lock_guard lock(m_recorder.mutex);
        ASSERT_GE(m_recorder.frames.size(), 3u);
        size_t frameBytes = static_cast<size_t>(size.width) * size.height * 3;
        std::vector<uint8_t> expected(frameBytes);
        for (uint32_t index = 0; index < 3; ++index) {
            const RecordedFrame& frame = m_recorder.frames[index];
            EXPECT_NE(frame.thread, std::this_thread::get_id());
            EXPECT_EQ(frame.status, KVCAP_OK);
            EXPECT_EQ(frame.copyResult, KVCAP_OK);
            EXPECT_EQ(frame.byteCount, frameBytes);
            ASSERT_EQ(frame.pixels.size(), frameBytes);
            uint32_t stamp = 0;
            EXPECT_TRUE(ReadPatternStamp(frame.pixels.data(), &stamp));
            EXPECT_EQ(stamp, index);  // in order, none skipped, starting again at 0
            DrawSyntheticPattern(index, size.width, size.height, expected.data());
            EXPECT_TRUE(frame.pixels == expected) << "frame " << index;
        }
    }

    KVCapHandle m_handle = 0;
    FrameRecorder m_recorder;
};

const uint8_t* PixelAt(const std::vector<uint8_t>& frame, Size size, int x, int y) {
    return frame.data() + (static_cast<size_t>(y) * size.width + x) * 3;
}

TEST_F(KVCapApiTest, DeliversPatternFramesAtEachSizeAndReopens) {
    for (Size size : {Size{854, 480}, Size{1136, 480}, Size{854, 848}}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        m_recorder.frames.clear();
        m_recorder.stopped = false;
        OpenAndStart(size);
        ASSERT_TRUE(m_recorder.WaitForFrames(3));
        StopAndClose();
        ExpectPatternFrames(size);

        // Colour order of a 24-bit DIB, independently of the pattern's own code: the
        // bottom-right corner has full blue and green over the red base, the bar (columns 8
        // to 23 of frame 1) is pure red.
        const std::vector<uint8_t>& frame1 = m_recorder.frames[1].pixels;
        const uint8_t* corner = PixelAt(frame1, size, size.width - 1, size.height - 1);
        EXPECT_EQ(corner[0], 255);
        EXPECT_EQ(corner[1], 255);
        EXPECT_EQ(corner[2], kPatternRed);
        const uint8_t* bar = PixelAt(frame1, size, 8, size.height / 2);
        EXPECT_EQ(bar[0], 0);
        EXPECT_EQ(bar[1], 0);
        EXPECT_EQ(bar[2], 255);
    }
}

// The rate is a ceiling: frame k may start no sooner than k periods after the first, which
// started after KVCapAPI_Start was called. A loaded machine only makes frames later, so the
// bound holds however slowly the test runs.
TEST_F(KVCapApiTest, DeliversNoFasterThanTheSetRate) {
    constexpr size_t kFrames = 8;
    for (int fps : {30, 45}) {
        SCOPED_TRACE(fps);
        m_recorder.frames.clear();
        m_recorder.stopped = false;
        steady_clock::time_point beforeStart = steady_clock::now();
        OpenAndStart({854, 480}, fps);
        ASSERT_TRUE(m_recorder.WaitForFrames(kFrames));
        StopAndClose();
        auto period =
            std::chrono::duration_cast<steady_clock::duration>(std::chrono::seconds(1)) / fps;
        std::lock_guard lock(m_recorder.mutex);
        for (size_t k = 0; k < kFrames; ++k) {
            EXPECT_GE(m_recorder.frames[k].time - beforeStart, static_cast<int>(k) * period)
                << "frame " << k;
        }
    }
}

TEST_F(KVCapApiTest, CallbackThatBlocksForAWhileDelaysButLosesNothing) {
    m_recorder.firstCallbackDelay = milliseconds(200);
    OpenAndStart({854, 480}, 30);
    ASSERT_TRUE(m_recorder.WaitForFrames(6));
    StopAndClose();
    std::lock_guard lock(m_recorder.mutex);
    ASSERT_GE(m_recorder.frames.size(), 6u);
    // The blocked time is not made up for with a burst: frames 2 to 5 keep the rate after
    // frame 1, so frame 5 comes 4 periods (133 ms) after frame 1 started, less the grain.
    EXPECT_GE(m_recorder.frames[5].time - m_recorder.frames[1].time, milliseconds(100));
    uint32_t stamp = 0;
    ASSERT_TRUE(ReadPatternStamp(m_recorder.frames[3].pixels.data(), &stamp));
    EXPECT_EQ(stamp, 3u);
}

TEST_F(KVCapApiTest, CloseWaitsForTheHeldCallbackToSeeTheStop) {
    m_recorder.holdUntilStopped = true;
    OpenAndStart({854, 480});
    while (!m_recorder.inCallback) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    std::atomic<bool> stopSet{false};
    std::thread pipeline([&] {
        std::this_thread::sleep_for(milliseconds(100));
        stopSet = true;
        m_recorder.stopped = true;
    });
    EXPECT_EQ(KVCapAPI_Close(m_handle), KVCAP_OK);
    EXPECT_TRUE(stopSet);
    EXPECT_FALSE(m_recorder.inCallback);
    size_t frames = m_recorder.FrameCount();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(m_recorder.FrameCount(), frames);  // delivery has ended
    pipeline.join();
}

TEST_F(KVCapApiTest, CopyTakesOnlyTheFrameBeingAnnounced) {
    m_recorder.releaseFromCallback = true;
    OpenAndStart({854, 480});
    ASSERT_TRUE(m_recorder.WaitForFrames(2));
    StopAndClose();
    // A descriptor of the previous frame, and any descriptor once its callback returned.
    EXPECT_EQ(m_recorder.staleCopyResult, KVCAP_E_NOT_CURRENT_FRAME);
    std::vector<uint8_t> destination(854 * 480 * 3);
    EXPECT_EQ(KVCapAPI_CopyRawData(m_handle, destination.data(), &m_recorder.firstInfo),
              KVCAP_E_NOT_CURRENT_FRAME);
    EXPECT_EQ(KVCapAPI_CopyRawData(m_handle, nullptr, &m_recorder.firstInfo), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_CopyRawData(m_handle, destination.data(), nullptr), KVCAP_E_INVALID_ARG);
    // The callback cannot close or release its own session: it would wait for itself.
    EXPECT_EQ(m_recorder.closeFromCallbackResult, KVCAP_E_WRONG_THREAD);
    EXPECT_EQ(m_recorder.releaseFromCallbackResult, KVCAP_E_WRONG_THREAD);
}

TEST_F(KVCapApiTest, RefusesMisuseOfASession) {
    EXPECT_EQ(KVCapAPI_Start(m_handle), KVCAP_E_NOT_OPEN);
    EXPECT_EQ(KVCapAPI_Close(m_handle), KVCAP_E_NOT_OPEN);
    EXPECT_EQ(KVCapAPI_SetColorFormat(m_handle, 5), KVCAP_E_UNSUPPORTED_FORMAT);
    EXPECT_EQ(KVCapAPI_SetMaxFPS(m_handle, 0), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_SetMaxFPS(m_handle, KVCAP_MAX_FPS + 1), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_SetCursorMode(m_handle, 2), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_SetFullscreen(m_handle, -1), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_GetScreenSize(m_handle, nullptr, nullptr, nullptr), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_Open(m_handle, nullptr, 0, 854, 480), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_Open(m_handle, RecordFrame, 1, 854, 480), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_Open(m_handle, RecordFrame, 0, 0, 480), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_Open(m_handle, RecordFrame, 0, 854, -480), KVCAP_E_INVALID_ARG);
    EXPECT_EQ(KVCapAPI_Open(m_handle, RecordFrame, 0, KVCAP_MAX_DIMENSION + 1, 480),
              KVCAP_E_INVALID_ARG);

    int width = 0, height = 0;
    uint16_t depth = 0;
    EXPECT_EQ(KVCapAPI_GetScreenSize(m_handle, &width, &height, &depth), KVCAP_OK);
    EXPECT_EQ(width, 854);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(depth, 24);

    OpenAndStart({854, 480});
    EXPECT_EQ(KVCapAPI_Open(m_handle, RecordFrame, 0, 854, 480), KVCAP_E_ALREADY_OPEN);
    EXPECT_EQ(KVCapAPI_Start(m_handle), KVCAP_E_ALREADY_STARTED);
    EXPECT_EQ(KVCapAPI_SetMaxFPS(m_handle, 30), KVCAP_E_ALREADY_OPEN);
    EXPECT_EQ(KVCapAPI_SetCursorMode(m_handle, 0), KVCAP_E_ALREADY_OPEN);
    StopAndClose();
    EXPECT_EQ(KVCapAPI_Close(m_handle), KVCAP_E_NOT_OPEN);
}

TEST_F(KVCapApiTest, RefusesHandlesThatAreNotLive) {
    KVCapHandle second = 0;
    ASSERT_EQ(KVCapAPI_Create(&second), KVCAP_OK);
    EXPECT_NE(second, m_handle);
    ASSERT_EQ(KVCapAPI_Release(second), KVCAP_OK);
    for (KVCapHandle handle : {KVCapHandle{0}, second, KVCapHandle{12345}}) {
        SCOPED_TRACE(handle);
        int width, height;
        CaptureFrameInfo info{};
        uint8_t pixel[3];
        EXPECT_EQ(KVCapAPI_GetScreenSize(handle, &width, &height, nullptr), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_SetCursorMode(handle, 1), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_SetMaxFPS(handle, 30), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_SetFullscreen(handle, 1), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_SetColorFormat(handle, CF_24BPP_888), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_Open(handle, RecordFrame, 0, 854, 480), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_Start(handle), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_CopyRawData(handle, pixel, &info), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_Close(handle), KVCAP_E_BAD_HANDLE);
        EXPECT_EQ(KVCapAPI_Release(handle), KVCAP_E_BAD_HANDLE);
    }
    EXPECT_EQ(KVCapAPI_Create(nullptr), KVCAP_E_INVALID_ARG);
    std::vector<KVCapHandle> handles(KVCAP_MAX_HANDLES - 1);
    for (KVCapHandle& handle : handles) {
        ASSERT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
    }
    EXPECT_EQ(KVCapAPI_Create(&second), KVCAP_E_TOO_MANY_HANDLES);
}

TEST_F(KVCapApiTest, ReleaseAndUninitializeEndARunningSession) {
    OpenAndStart({854, 480});
    ASSERT_TRUE(m_recorder.WaitForFrames(1));
    m_recorder.stopped = true;
    EXPECT_EQ(KVCapAPI_Release(m_handle), KVCAP_OK);
    size_t frames = m_recorder.FrameCount();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(m_recorder.FrameCount(), frames);

    ASSERT_EQ(KVCapAPI_Create(&m_handle), KVCAP_OK);
    m_recorder.handle = m_handle;
    m_recorder.stopped = false;
    OpenAndStart({854, 480});
    ASSERT_TRUE(m_recorder.WaitForFrames(frames + 1));
    m_recorder.stopped = true;
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
    frames = m_recorder.FrameCount();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(m_recorder.FrameCount(), frames);
    EXPECT_EQ(KVCapAPI_Start(m_handle), KVCAP_E_NOT_INITIALIZED);
}

// The program ends with its session still delivering when the projector is unplugged.
TEST(KVCapLibraryTest, ProcessEndsNormallyWhileASessionDelivers) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            KVCapSetSource("synthetic");
            FrameRecorder recorder;
            g_Recorder = &recorder;
            KVCapAPI_Initialize(1, 0, 1);
            KVCapAPI_Create(&recorder.handle);
            KVCapAPI_Open(recorder.handle, RecordFrame, 0, 854, 480);
            KVCapAPI_Start(recorder.handle);
            recorder.WaitForFrames(2);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(KVCapLibraryTest, RefusesCallsOutsideInitializeAndBadSources) {
    KVCapHandle handle = 0;
    EXPECT_EQ(KVCapAPI_Create(&handle), KVCAP_E_NOT_INITIALIZED);
    EXPECT_EQ(KVCapAPI_Close(1), KVCAP_E_NOT_INITIALIZED);
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_E_NOT_INITIALIZED);

    KVCapSetSource("synthetic:bmp=a.bmp");
    EXPECT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_E_BAD_SOURCE);
    EXPECT_EQ(KVCapAPI_Create(&handle), KVCAP_E_NOT_INITIALIZED);
#if !defined(_WIN32)
    KVCapSetSource("gdi");  // no desktop source in this build yet
    EXPECT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_E_BAD_SOURCE);
#endif

    KVCapSetSource("synthetic:ppm=/nonexistent/a.ppm");
    ASSERT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_E_ALREADY_INITIALIZED);
    ASSERT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Open(handle, RecordFrame, 0, 854, 480), KVCAP_E_SOURCE_FAILED);
    EXPECT_EQ(KVCapAPI_Start(handle), KVCAP_E_NOT_OPEN);
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
}

}  // namespace
