#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "emulator/image_file.h"
#include "emulator/image_fit.h"
#include "emulator/virtual_projector.h"
#include "platform/debug_print.h"
#include "tests/emulator/hand_host.h"

namespace {

using emu::Image;

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("emulator_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             name))
        .string();
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Image Solid(int width, int height, uint8_t b, uint8_t g, uint8_t r) {
    Image image{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
        image.bgr.insert(image.bgr.end(), {b, g, r});
    }
    return image;
}

TEST(ImageFileTest, PpmHoldsRedGreenBlueAndReadsBackAsCaptured) {
    Image image{2, 1, {0x10, 0x20, 0xF0, 0x01, 0x02, 0x03}};  // B, G, R
    std::string path = TempPath("colours.ppm");
    std::string error;
    ASSERT_TRUE(emu::WriteImage(path, image, &error)) << error;
    EXPECT_EQ(ReadText(path), std::string("P6\n2 1\n255\n\xF0\x20\x10\x03\x02\x01"));
    Image back;
    ASSERT_TRUE(emu::ReadImage(path, &back, &error)) << error;
    EXPECT_EQ(back.width, 2);
    EXPECT_EQ(back.bgr, image.bgr);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    std::filesystem::remove(path);
}

TEST(ImageFileTest, ReadsTheCommittedPpmCropsAndRefusesBadFiles) {
    Image crop;
    std::string error;
    ASSERT_TRUE(emu::ReadImage(KV_TEST_DATA_DIR "/desktop_crop.ppm", &crop, &error)) << error;
    EXPECT_EQ(crop.width, 256);
    EXPECT_EQ(crop.height, 96);
    EXPECT_EQ(crop.bgr.size(), 256u * 96 * 3);

    EXPECT_FALSE(emu::ReadImage("/nonexistent/x.ppm", &crop, &error));
    EXPECT_NE(error.find("cannot open /nonexistent/x.ppm"), std::string::npos) << error;
    std::string path = TempPath("bad.ppm");
    std::ofstream(path) << "P6\n4 4\n255\nshort";
    EXPECT_FALSE(emu::ReadImage(path, &crop, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    std::ofstream(path) << "P3\n1 1\n255\n0 0 0\n";
    EXPECT_FALSE(emu::ReadImage(path, &crop, &error));
    EXPECT_NE(error.find("not a binary PPM"), std::string::npos) << error;
    std::filesystem::remove(path);
}

#if defined(KV_HAVE_PNG)
TEST(ImageFileTest, PngRoundTripKeepsEveryPixel) {
    Image desktop;
    std::string error;
    ASSERT_TRUE(emu::ReadImage(KV_TEST_DATA_DIR "/desktop_text.png", &desktop, &error)) << error;
    ASSERT_EQ(desktop.width, 854);
    ASSERT_EQ(desktop.height, 480);
    std::string path = TempPath("desktop.png");
    ASSERT_TRUE(emu::WriteImage(path, desktop, &error)) << error;
    Image back;
    ASSERT_TRUE(emu::ReadImage(path, &back, &error)) << error;
    EXPECT_EQ(back.bgr, desktop.bgr);
    std::filesystem::remove(path);

    std::ofstream(path) << "not a png";
    EXPECT_FALSE(emu::ReadImage(path, &back, &error));
    EXPECT_NE(error.find("not a readable PNG"), std::string::npos) << error;
    std::filesystem::remove(path);
}
#endif

TEST(ImageFitTest, AFrameSizedPictureIsUnchanged) {
    std::vector<uint8_t> noise = NoiseFrame(11);
    Image picture{854, 480, noise};
    EXPECT_EQ(emu::FitImage(picture, 854, 480).bgr, noise);
}

TEST(ImageFitTest, WidePictureIsLetterboxedTopAndBottom) {
    Image fitted = emu::FitImage(Solid(200, 50, 10, 20, 30), 854, 480);  // 854 x 213.5 inside
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
    Image fitted = emu::FitImage(stripes, 854, 480);
    int left = (854 - 480) / 2;
    EXPECT_EQ(fitted.bgr[(100 * 854 + left - 1) * 3], 0);
    for (int x : {left, left + 240, left + 479}) {
        EXPECT_NEAR(fitted.bgr[(100 * 854 + x) * 3], 128, 1) << x;
    }
    EXPECT_EQ(fitted.bgr[(100 * 854 + left + 480) * 3], 0);
}

TEST(ReportTest, ReportFileAndLastFrameAreWrittenWhenAsked) {
    SetTraceSink([](const char*) {});  // the unknown control code below is traced
    emu::VirtualConfig config;
    config.reportPath = TempPath("report.txt");
    config.imagePath = TempPath("shown.ppm");
    std::vector<uint8_t> frame = NoiseFrame(12);
    {
        emu::VirtualProjector projector(config);
        HandHost host(projector);
        host.Control(1);
        ASSERT_EQ(host.SendRawFrame(frame, 0), 0u);
        projector.Report();  // the decoder has shown the frame and written the report
        std::string report = ReadText(config.reportPath);
        EXPECT_NE(report.find("projector 0 link=0x00000002 open_commands=1 frames_bank0=1 "
                              "frames_bank1=0 frames_abandoned=0 frames_rejected=0 power_mode=0 "
                              "fault=0 volume=mounted\n"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("protocol_errors 0\n"), std::string::npos) << report;
        EXPECT_NE(report.find("cdb 22 optical0 none 0 0 FE 00 00 00 C0 D1 05 00 40 00 01 00 00 00 "
                              "00 00\n"),
                  std::string::npos)
            << report;
        EXPECT_NE(report.find("cdb 21 optical0 out 4136 0 FF 00 00 00 00 B0 13 80"),
                  std::string::npos)
            << report;
        projector.RemoveMountPoint("E:\\");
        host.Control(9);
    }
    std::string report = ReadText(config.reportPath);
    EXPECT_NE(report.find("mount_point_removed E:\\\n"), std::string::npos) << report;
    EXPECT_NE(report.find("protocol_errors 1\nprotocol_error command 23 (FE 00 00 00 C0 D1 09"),
              std::string::npos)
        << report;
    Image shown;
    std::string error;
    ASSERT_TRUE(emu::ReadImage(config.imagePath, &shown, &error)) << error;
    EXPECT_EQ(shown.bgr, frame);
    std::filesystem::remove(config.reportPath);
    std::filesystem::remove(config.imagePath);
    SetTraceSink(nullptr);
}

}  // namespace
