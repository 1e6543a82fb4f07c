// The presenter's controls in the engine: a held wall (frozen or blank) and the flip, with the
// virtual projector showing what arrives. The codec's calls are counted, and the frames the
// pipeline copies from the capture library recorded, through the linker (--wrap), so that a
// slice resent as kept is told from one encoded again, and a fresh capture from a stale one.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "codec/frame_codec.h"
#include "device/device_backend.h"
#include "image/image_flip.h"
#include "kvcap/synthetic_pattern.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/passing_backend.h"
#include "tests/support/test_files.h"

namespace {
std::atomic<int> g_encodes{0};
std::mutex g_copiesLock;
std::vector<int64_t> g_copiedStamps;  // of every frame copied from the library, in order

std::vector<int64_t> CopiedStamps() {
    std::lock_guard<std::mutex> hold(g_copiesLock);
    return g_copiedStamps;
}
}  // namespace

extern "C" int __real__Z20KVCapAPI_CopyRawDatajPvPK16CaptureFrameInfo(KVCapHandle handle,
                                                                      void* destination,
                                                                      const CaptureFrameInfo* info);
extern "C" int __wrap__Z20KVCapAPI_CopyRawDatajPvPK16CaptureFrameInfo(
    KVCapHandle handle, void* destination, const CaptureFrameInfo* info) {
    int result = __real__Z20KVCapAPI_CopyRawDatajPvPK16CaptureFrameInfo(handle, destination, info);
    uint32_t stamp = 0;
    bool stamped = ReadPatternStamp(static_cast<const uint8_t*>(destination), &stamp);
    std::lock_guard<std::mutex> hold(g_copiesLock);
    g_copiedStamps.push_back(stamped ? stamp : -1);
    return result;
}

extern "C" bool __real__Z11EncodeFrameP16FrameCodecParamsPKhPhPi(FrameCodecParams* params,
                                                                 const uint8_t* source,
                                                                 uint8_t* output, int* outLength);
extern "C" bool __wrap__Z11EncodeFrameP16FrameCodecParamsPKhPhPi(FrameCodecParams* params,
                                                                 const uint8_t* source,
                                                                 uint8_t* output, int* outLength) {
    g_encodes.fetch_add(1);
    return __real__Z11EncodeFrameP16FrameCodecParamsPKhPhPi(params, source, output, outLength);
}

namespace {

constexpr uint8_t kFrameDone = 0xFE;
constexpr int64_t kBlack = -1;  // a shown frame with no stamp

// Every frame the projector completes, in order, by the synthetic pattern's stamp in it.
class ShownStamps final : public PassingBackend {
  public:
    explicit ShownStamps(emu::VirtualProjector* projector)
        : PassingBackend(projector), m_projector(projector) {}

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        uint32_t result = PassingBackend::SendScsi(unit, request);
        if (result == 0 && request.cdb[0] == kFrameDone) {
            std::vector<uint8_t> frame = m_projector->LastFrame();
            uint32_t stamp = 0;
            bool stamped = ReadPatternStamp(frame.data(), &stamp);
            bool black = std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0; });
            std::lock_guard<std::mutex> hold(m_lock);
            m_stamps.push_back(stamped ? stamp : black ? kBlack : -2);
        }
        return result;
    }
    std::vector<int64_t> Stamps() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_stamps;
    }
    size_t Count() { return Stamps().size(); }

  private:
    emu::VirtualProjector* const m_projector;
    std::mutex m_lock;
    std::vector<int64_t> m_stamps;
};

class PresenterTest : public EngineTest, public ::testing::WithParamInterface<int32_t> {
  protected:
    void TearDown() override {
        SetWallHold(WALL_LIVE);
        g_bBlankFrames.store(false);
        EngineTest::TearDown();
    }
    bool WaitForMoreFrames(ShownStamps& shown, size_t more) {
        size_t target = shown.Count() + more;
        return WaitUntil([&] { return shown.Count() >= target; });
    }
};

// Held, the wall shows the kept frame (or black) at the session's pace with nothing captured
// or encoded; a locked session's wall goes black even while frozen. Let go, the first frame
// shown is grabbed after the hold: neither a frame queued before it nor the one the callback
// held (the grab after the last one copied) reaches the wall.
TEST_P(PresenterTest, AHeldWallEncodesNothingAndResumesWithAFreshCapture) {
    const int32_t hold = GetParam();
    KVCapSetSource("synthetic");
    StartDevice("link=2.0");
    ShownStamps shown(m_projector.get());
    g_pDeviceBackend = &shown;
    OpenCapture();
    ASSERT_TRUE(WaitForMoreFrames(shown, 3));

    SetWallHold(hold);
    ASSERT_TRUE(WaitForMoreFrames(shown, 2));  // the sender has seen the hold
    const size_t heldFrom = shown.Count();
    const int encodes = g_encodes.load();
    const size_t copies = CopiedStamps().size();
    ASSERT_TRUE(WaitForMoreFrames(shown, 6));
    EXPECT_EQ(g_encodes.load(), encodes);
    EXPECT_EQ(CopiedStamps().size(), copies);
    std::vector<int64_t> stamps = shown.Stamps();
    const int64_t wall = stamps[heldFrom - 1];
    EXPECT_EQ(wall, hold == WALL_BLANK ? kBlack : stamps[heldFrom - 2]);
    EXPECT_TRUE(std::all_of(stamps.begin() + heldFrom, stamps.end(),
                            [wall](int64_t stamp) { return stamp == wall; }));
    if (hold == WALL_FROZEN) {
        g_bBlankFrames.store(true);  // the session was locked
        ASSERT_TRUE(WaitForMoreFrames(shown, 2));
        EXPECT_EQ(shown.Stamps().back(), kBlack);
        g_bBlankFrames.store(false);
    }

    const size_t liveFrom = shown.Count();
    const int64_t lastCopied = CopiedStamps().back();
    SetWallHold(WALL_LIVE);
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<int64_t> now = shown.Stamps();
        return std::any_of(now.begin() + liveFrom, now.end(),
                           [](int64_t stamp) { return stamp >= 0; });
    }));
    CloseCapture();
    stamps = shown.Stamps();
    auto fresh = std::find_if(stamps.begin() + liveFrom, stamps.end(),
                              [](int64_t stamp) { return stamp >= 0; });
    EXPECT_GT(*fresh, lastCopied + 1);
    EXPECT_GT(g_encodes.load(), encodes);
}

// A frame the source calls unchanged repeats the source's frame before it, which a hold dropped:
// the first after a hold is sent as captured, not as the sender's kept (frozen or black) frame.
TEST_F(PresenterTest, AHoldBreaksTheRepeatOfTheFrameBefore) {
    SetCaptureState(CAPTURE_RUNNING);
    CaptureFrameInfo info{};
    auto queueOne = [&info](uint32_t flags) {
        info.frameFlags = flags;
        CaptureCallback(&info);
        std::lock_guard<std::mutex> hold(g_csFrames);
        uint32_t queued = g_FrameQueue.back().frameFlags;
        g_FrameQueue.pop_front();
        g_nQueuedFrames.fetch_sub(1);
        return queued;
    };
    queueOne(0);
    EXPECT_EQ(queueOne(KVCAP_FRAME_UNCHANGED), KVCAP_FRAME_UNCHANGED);
    SetWallHold(WALL_BLANK);
    SetWallHold(WALL_LIVE);
    EXPECT_EQ(queueOne(KVCAP_FRAME_UNCHANGED), 0u);
    EXPECT_EQ(queueOne(KVCAP_FRAME_UNCHANGED), KVCAP_FRAME_UNCHANGED);
    // A hold that lands between a callback's check and its copy: the sender drops the frame so
    // copied (as the queue is cleared here), and the next one is not its repeat.
    queueOne(0);
    SetWallHold(WALL_BLANK);
    info.frameFlags = 0;
    CopyCapturedFrame(&info);
    SetWallHold(WALL_LIVE);
    {
        std::lock_guard<std::mutex> hold(g_csFrames);
        g_FrameQueue.clear();
        g_nQueuedFrames.store(0);
    }
    EXPECT_EQ(queueOne(KVCAP_FRAME_UNCHANGED), 0u);
    SetCaptureState(CAPTURE_STOPPED);
}

// One window is fitted to the projector's frame whatever the zoom, and sent uncropped (the
// synthetic source shows its pattern for any window). Its closing, as the source reports it,
// gives the desktop back once, at the zoom's size.
TEST_F(PresenterTest, OneWindowIgnoresTheZoomAndItsClosingGivesTheDesktopBackOnce) {
    KVCapSetSource("synthetic");
    StartDevice("link=2.0");
    ShownStamps shown(m_projector.get());
    g_pDeviceBackend = &shown;
    g_nCaptureZoom = ZOOM_1;
    OpenCapture();
    ClearTraces();
    SetCaptureWindow(0x400001);
    EXPECT_TRUE(Traced("854, 480\n"));
    const size_t windowFrom = shown.Count();
    ASSERT_TRUE(WaitForMoreFrames(shown, 3));
    std::vector<int64_t> stamps = shown.Stamps();
    EXPECT_TRUE(std::all_of(stamps.begin() + windowFrom, stamps.end(),
                            [](int64_t stamp) { return stamp >= 0; }));

    EXPECT_FALSE(EndClosedWindow());
    CaptureFrameInfo gone{};
    gone.status = KVCAP_E_WINDOW_GONE;
    CaptureCallback(&gone);
    ClearTraces();
    EXPECT_TRUE(EndClosedWindow());
    EXPECT_FALSE(EndClosedWindow());
    EXPECT_EQ(g_nCaptureWindow.load(), 0u);
    EXPECT_TRUE(Traced("1136, 480\n"));
    CloseCapture();
    g_nCaptureZoom = ZOOM_ORIGINAL;
}

INSTANTIATE_TEST_SUITE_P(Holds, PresenterTest, ::testing::Values(WALL_FROZEN, WALL_BLANK),
                         [](const auto& info) {
                             return info.param == WALL_FROZEN ? std::string("Frozen")
                                                              : std::string("Blank");
                         });

class FlipTest : public EngineTest, public ::testing::WithParamInterface<int> {
  protected:
    void TearDown() override {
        SelectFlip(FLIP_NONE);
        EngineTest::TearDown();
    }
};

// The flip chosen while the session runs reaches the wall with every pixel in its mirrored
// place, and is saved with the other settings.
TEST_P(FlipTest, TheWallShowsThePictureMirrored) {
    const int flip = GetParam();
    std::string path = ::testing::TempDir() + "flip_" + std::to_string(flip) + ".ppm";
    std::vector<uint8_t> rgb = WriteCapturedPicture(path, PROJECTOR_WIDTH, PROJECTOR_HEIGHT);
    KVCapSetSource(("synthetic:ppm=" + path).c_str());
    StartSession("link=2.0");
    ASSERT_TRUE(WaitForFramesShown(1));
    ASSERT_TRUE(SelectFlip(flip));
    std::vector<uint8_t> expected(PROJECTOR_FRAME_BYTES);
    for (int y = 0; y < PROJECTOR_HEIGHT; ++y) {
        for (int x = 0; x < PROJECTOR_WIDTH; ++x) {
            int fromX = (flip & FLIP_HORIZONTAL) != 0 ? PROJECTOR_WIDTH - 1 - x : x;
            int fromY = (flip & FLIP_VERTICAL) != 0 ? PROJECTOR_HEIGHT - 1 - y : y;
            const uint8_t* from = &rgb[(static_cast<size_t>(fromY) * PROJECTOR_WIDTH + fromX) * 3];
            uint8_t* to = &expected[(static_cast<size_t>(y) * PROJECTOR_WIDTH + x) * 3];
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    EXPECT_TRUE(WaitUntil([&] { return m_projector->LastFrame() == expected; }));
    CloseCapture();
    EXPECT_EQ(SetDisplaySettings(), 1);
    EXPECT_EQ(m_store.Value(kSettingsKey, "FlipMode"), static_cast<uint32_t>(flip));
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Flips, FlipTest,
                         ::testing::Values(FLIP_NONE, FLIP_HORIZONTAL, FLIP_VERTICAL, FLIP_BOTH));

using FlipSettingTest = EngineTest;

TEST_F(FlipSettingTest, ASavedFlipIsReadAndAnUnknownOneIgnored) {
    m_store.SetValue(kSettingsKey, "FlipMode", FLIP_VERTICAL);
    EXPECT_EQ(GetDisplaySettings(), 1);
    EXPECT_EQ(FlipMode.load(), FLIP_VERTICAL);
    m_store.SetValue(kSettingsKey, "FlipMode", 4);
    GetDisplaySettings();
    EXPECT_EQ(FlipMode.load(), FLIP_VERTICAL);
    EXPECT_FALSE(SelectFlip(4));
    FlipMode.store(FLIP_NONE);
}

}  // namespace
