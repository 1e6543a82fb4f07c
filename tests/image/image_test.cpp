#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "image/image_file.h"
#include "image/image_fit.h"
#include "platform/whole_file.h"
#include "tests/support/test_files.h"

namespace {

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> noise(bytes);
    std::mt19937 random(seed);
    for (uint8_t& byte : noise) {
        byte = static_cast<uint8_t>(random());
    }
    return noise;
}

Image Solid(int width, int height, uint8_t b, uint8_t g, uint8_t r) {
    Image image{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
        image.bgr.insert(image.bgr.end(), {b, g, r});
    }
    return image;
}

bool Decode(const std::string& text, Image* image) {
    std::string error;
    return DecodePpm({text.begin(), text.end()}, image, &error);
}

TEST(PpmTest, ReadsHeaderCommentsAndTurnsRgbIntoBgr) {
    Image image;
    ASSERT_TRUE(Decode(
        std::string("P6\n# made by hand\n2 1 255\n") + std::string("\x10\x20\x30\xff\x00\x80", 6),
        &image));
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(image.bgr, (std::vector<uint8_t>{0x30, 0x20, 0x10, 0x80, 0x00, 0xff}));
}

TEST(PpmTest, ScalesSmallSampleRangesToEightBits) {
    Image image;
    ASSERT_TRUE(Decode(std::string("P6 1 1 15 ") + std::string("\x0f\x00\x05", 3), &image));
    EXPECT_EQ(image.bgr, (std::vector<uint8_t>{85, 0, 255}));
}

TEST(PpmTest, RefusesMalformedFilesAndLeavesTheImageAlone) {
    for (const std::string& text :
         {std::string("P3 1 1 255 \x01\x02\x03"), std::string("P6 1 1 255 \x01\x02"),
          std::string("P6 0 1 255 "), std::string("P6 1 1 256 \x01\x02\x03"),
          std::string("P6 99999 1 255 "), std::string("P6 1 1 255"), std::string("P6 1 1"),
          std::string("P6 4294967297 1 255 "), std::string("P")}) {
        Image image;
        image.width = 7;
        EXPECT_FALSE(Decode(text, &image)) << text;
        EXPECT_EQ(image.width, 7);
    }
}

TEST(ImageFileTest, PpmHoldsRedGreenBlueAndReadsBackAsCaptured) {
    Image image{2, 1, {0x10, 0x20, 0xF0, 0x01, 0x02, 0x03}};  // B, G, R
    std::string path = TempPath("colours.ppm");
    std::string error;
    ASSERT_TRUE(WriteImage(path, image, &error)) << error;
    EXPECT_EQ(ReadText(path), std::string("P6\n2 1\n255\n\xF0\x20\x10\x03\x02\x01"));
    Image back;
    ASSERT_TRUE(ReadImage(path, &back, &error)) << error;
    EXPECT_EQ(back.width, 2);
    EXPECT_EQ(back.bgr, image.bgr);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    std::filesystem::remove(path);
}

TEST(ImageFileTest, ReadsTheCommittedPpmCropsAndRefusesBadFiles) {
    Image crop;
    std::string error;
    ASSERT_TRUE(ReadImage(KV_TEST_DATA_DIR "/desktop_crop.ppm", &crop, &error)) << error;
    EXPECT_EQ(crop.width, 256);
    EXPECT_EQ(crop.height, 96);
    EXPECT_EQ(crop.bgr.size(), 256u * 96 * 3);

    EXPECT_FALSE(ReadImage("/nonexistent/x.ppm", &crop, &error));
    EXPECT_NE(error.find("cannot open /nonexistent/x.ppm"), std::string::npos) << error;
    std::string path = TempPath("bad.ppm");
    std::ofstream(path) << "P6\n4 4\n255\nshort";
    EXPECT_FALSE(ReadImage(path, &crop, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    std::ofstream(path) << "P3\n1 1\n255\n0 0 0\n";
    EXPECT_FALSE(ReadImage(path, &crop, &error));
    EXPECT_NE(error.find("not a binary PPM"), std::string::npos) << error;
    std::filesystem::remove(path);
}

TEST(ImageFileTest, PngRoundTripKeepsEveryPixel) {
    Image desktop;
    std::string error;
    ASSERT_TRUE(ReadImage(KV_TEST_DATA_DIR "/desktop_text.png", &desktop, &error)) << error;
    ASSERT_EQ(desktop.width, 854);
    ASSERT_EQ(desktop.height, 480);
    std::string path = TempPath("desktop.png");
    ASSERT_TRUE(WriteImage(path, desktop, &error)) << error;
    Image back;
    ASSERT_TRUE(ReadImage(path, &back, &error)) << error;
    EXPECT_EQ(back.bgr, desktop.bgr);
    std::filesystem::remove(path);

    std::ofstream(path) << "not a png";
    EXPECT_FALSE(ReadImage(path, &back, &error));
    EXPECT_NE(error.find("not a readable PNG"), std::string::npos) << error;
    std::filesystem::remove(path);
    EXPECT_FALSE(DecodeImage({}, ImageFormat::Png, &back, &error));  // an empty file
    EXPECT_EQ(back.bgr, desktop.bgr);
}

// A data chunk may be empty; the reader must not be handed one before its data buffer exists,
// nor one that states more bytes than the file holds (it would size its buffer by that).
TEST(ImageFileTest, PngDataChunksEmptyAddNothingAndPastTheEndAreRefused) {
    const Image source{3, 2, Noise(3 * 2 * 3, 7)};
    const std::string path = TempPath("empty_chunks.png");
    std::string error;
    ASSERT_TRUE(WriteImage(path, source, &error)) << error;
    std::vector<uint8_t> file;
    ASSERT_TRUE(ReadWholeFile(path, &file, &error)) << error;
    std::filesystem::remove(path);
    const std::string type = "IDAT";
    const auto data = std::search(file.begin(), file.end(), type.begin(), type.end()) - 4;
    const size_t dataAt = static_cast<size_t>(data - file.begin());
    const size_t dataBytes = 12 + (size_t{data[2]} << 8 | data[3]);
    const std::vector<uint8_t> empty = {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E};

    std::vector<uint8_t> padded(file);
    padded.insert(padded.begin() + dataAt + dataBytes, empty.begin(), empty.end());
    padded.insert(padded.begin() + dataAt, empty.begin(), empty.end());
    Image back;
    ASSERT_TRUE(DecodeImage(padded, ImageFormat::Png, &back, &error)) << error;
    EXPECT_EQ(back.bgr, source.bgr);

    std::vector<uint8_t> hollow(file);
    hollow.erase(hollow.begin() + dataAt, hollow.begin() + dataAt + dataBytes);
    hollow.insert(hollow.begin() + dataAt, empty.begin(), empty.end());
    EXPECT_FALSE(DecodeImage(hollow, ImageFormat::Png, &back, &error));

    std::vector<uint8_t> trailing(file);
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    ASSERT_TRUE(DecodeImage(trailing, ImageFormat::Png, &back, &error)) << error;
    EXPECT_EQ(back.bgr, source.bgr);

    std::vector<uint8_t> boasting(file);
    boasting[dataAt] = 0x3F;  // a gigabyte stated, a few bytes there
    EXPECT_FALSE(DecodeImage(boasting, ImageFormat::Png, &back, &error));
    EXPECT_NE(error.find("past the end"), std::string::npos) << error;
}

TEST(ImageFitTest, AFrameSizedPictureIsUnchanged) {
    std::vector<uint8_t> noise = Noise(854 * 480 * 3, 11);
    Image picture{854, 480, noise};
    EXPECT_EQ(FitImage(picture, 854, 480).bgr, noise);
}

TEST(ImageFitTest, WidePictureIsLetterboxedTopAndBottom) {
    Image fitted = FitImage(Solid(200, 50, 10, 20, 30), 854, 480);  // 854 x 213.5 inside
    std::vector<int> pictureRows;
    for (int y = 0; y < 480; ++y) {
        const uint8_t* row = &fitted.bgr[static_cast<size_t>(y) * 854 * 3];
        if (std::vector<uint8_t>(row, row + 854 * 3) == Solid(854, 1, 10, 20, 30).bgr) {
            pictureRows.push_back(y);
        } else {
            EXPECT_EQ(std::vector<uint8_t>(row, row + 854 * 3), std::vector<uint8_t>(854 * 3, 0))
                << "row " << y << " is neither picture nor black";
        }
    }
    ASSERT_FALSE(pictureRows.empty());
    int top = pictureRows.front();
    int bottom = 479 - pictureRows.back();
    EXPECT_NEAR(static_cast<int>(pictureRows.size()), 214, 1);
    EXPECT_EQ(pictureRows.back() - top + 1, static_cast<int>(pictureRows.size()));
    EXPECT_LE(std::abs(top - bottom), 1);
}

TEST(ImageFitTest, LargeTallPictureIsAveragedAndPillarboxed) {
    // 1920 x 1920 of alternating black and white columns shrinks to 480 x 480 of grey.
    Image stripes{1920, 1920, std::vector<uint8_t>(1920u * 1920 * 3)};
    for (int y = 0; y < 1920; ++y) {
        for (int x = 1; x < 1920; x += 2) {
            std::fill_n(&stripes.bgr[(static_cast<size_t>(y) * 1920 + x) * 3], 3, 255);
        }
    }
    Image fitted = FitImage(stripes, 854, 480);
    int left = (854 - 480) / 2;
    EXPECT_EQ(fitted.bgr[(100 * 854 + left - 1) * 3], 0);
    for (int x : {left, left + 240, left + 479}) {
        EXPECT_NEAR(fitted.bgr[(100 * 854 + x) * 3], 128, 1) << x;
    }
    EXPECT_EQ(fitted.bgr[(100 * 854 + left + 480) * 3], 0);
}

}  // namespace
