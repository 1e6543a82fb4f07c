#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "image/image_file.h"
#include "kvcap/kvcap_api.h"
#include "tests/kvcap/test_support.h"

namespace {

const std::string kDataDir = KV_TEST_DATA_DIR;

// Replays `choice` at width x height and returns the first `count` frames.
std::vector<RecordedFrame> Replay(const std::string& choice, int width, int height, size_t count) {
    KVCapSetSource(choice.c_str());
    FrameRecorder recorder;
    g_Recorder = &recorder;
    KVCapHandle handle = 0;
    EXPECT_EQ(KVCapAPI_Initialize(1, 0, 1), KVCAP_OK);
    EXPECT_EQ(KVCapAPI_Create(&handle), KVCAP_OK);
    recorder.handle = handle;
    EXPECT_EQ(KVCapAPI_SetMaxFPS(handle, 45), KVCAP_OK);
    int opened = KVCapAPI_Open(handle, RecordFrame, 0, width, height);
    EXPECT_EQ(opened, KVCAP_OK);
    if (opened == KVCAP_OK) {
        EXPECT_EQ(KVCapAPI_Start(handle), KVCAP_OK);
        EXPECT_TRUE(recorder.WaitForFrames(count));
    }
    EXPECT_EQ(KVCapAPI_Uninitialize(), KVCAP_OK);
    g_Recorder = nullptr;
    return std::move(recorder.frames);
}

Image LoadData(const std::string& name) {
    Image image;
    std::string error;
    EXPECT_TRUE(ReadImage(kDataDir + "/" + name, &image, &error)) << error;
    return image;
}

TEST(ImageReplayTest, ReplaysImagesInTurnAtTheirOwnSizeUnchanged) {
    Image desktop = LoadData("desktop_crop.ppm");
    Image photo = LoadData("photo_crop.ppm");
    std::vector<RecordedFrame> frames =
        Replay("synthetic:ppm=" + kDataDir + "/desktop_crop.ppm;" + kDataDir + "/photo_crop.ppm",
               desktop.width, desktop.height, 3);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_TRUE(frames[0].pixels == desktop.bgr);
    EXPECT_TRUE(frames[1].pixels == photo.bgr);
    EXPECT_TRUE(frames[2].pixels == desktop.bgr);
}

// A picture that repeats the one before is announced as unchanged, and still copies whole;
// the first frame of a session is never a repeat, not even of a one-picture replay.
TEST(ImageReplayTest, APictureThatRepeatsTheLastIsAnnouncedAsUnchanged) {
    Image desktop = LoadData("desktop_crop.ppm");
    Image photo = LoadData("photo_crop.ppm");
    std::string desktopPath = kDataDir + "/desktop_crop.ppm";
    std::string photoPath = kDataDir + "/photo_crop.ppm";
    std::vector<RecordedFrame> frames =
        Replay("synthetic:ppm=" + desktopPath + ";" + desktopPath + ";" + photoPath, desktop.width,
               desktop.height, 4);
    ASSERT_GE(frames.size(), 4u);
    std::vector<uint32_t> flags;
    for (size_t i = 0; i < 4; ++i) {
        flags.push_back(frames[i].frameFlags);
    }
    EXPECT_EQ(flags, (std::vector<uint32_t>{0, KVCAP_FRAME_UNCHANGED, 0, 0}));
    EXPECT_TRUE(frames[1].pixels == desktop.bgr);
    EXPECT_TRUE(frames[2].pixels == photo.bgr);
    EXPECT_TRUE(frames[3].pixels == desktop.bgr);

    std::vector<RecordedFrame> still =
        Replay("synthetic:ppm=" + photoPath, photo.width, photo.height, 3);
    ASSERT_GE(still.size(), 3u);
    EXPECT_EQ(still[0].frameFlags, 0u);
    EXPECT_EQ(still[2].frameFlags, KVCAP_FRAME_UNCHANGED);
    EXPECT_TRUE(still[2].pixels == photo.bgr);
}

TEST(ImageReplayTest, ScalesToTheSessionSize) {
    Image photo = LoadData("photo_crop.ppm");
    int width = photo.width / 2, height = photo.height / 2;
    std::vector<RecordedFrame> frames =
        Replay("synthetic:ppm=" + kDataDir + "/photo_crop.ppm", width, height, 1);
    ASSERT_GE(frames.size(), 1u);
    ASSERT_EQ(frames[0].pixels.size(), static_cast<size_t>(width) * height * 3);
    // Halving samples each 2 x 2 block at its centre: the block's average.
    size_t srcStride = static_cast<size_t>(photo.width) * 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t* block = photo.bgr.data() + 2 * y * srcStride + 6 * x + c;
                int average =
                    (block[0] + block[3] + block[srcStride] + block[srcStride + 3] + 2) / 4;
                int scaled = frames[0].pixels[(static_cast<size_t>(y) * width + x) * 3 + c];
                ASSERT_NEAR(scaled, average, 1) << x << "," << y << " channel " << c;
            }
        }
    }
}

// The PNG and the PPM cut from it by another tool agree, each turned into BGR on its own.
TEST(ImageReplayTest, ReplaysPngAsTheDesktopItWasTakenFrom) {
    Image crop = LoadData("photo_crop.ppm");
    constexpr int kCropX = 300, kCropY = 200;
    std::vector<RecordedFrame> frames =
        Replay("synthetic:png=" + kDataDir + "/photo.png", 854, 480, 1);
    ASSERT_GE(frames.size(), 1u);
    size_t rowBytes = static_cast<size_t>(crop.width) * 3;
    for (int y = 0; y < crop.height; ++y) {
        const uint8_t* row = frames[0].pixels.data() + ((kCropY + y) * 854 + kCropX) * 3;
        ASSERT_TRUE(std::equal(row, row + rowBytes, crop.bgr.data() + y * rowBytes)) << y;
    }
}

}  // namespace
