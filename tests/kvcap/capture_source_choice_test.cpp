#include "kvcap/capture_source_choice.h"

#include <gtest/gtest.h>

namespace {

CaptureSourceChoice Parse(std::string_view text) {
    CaptureSourceChoice choice;
    choice.kind = CaptureSourceKind::Gdi;  // so that a parse that leaves it alone shows
    EXPECT_TRUE(ParseCaptureSourceChoice(text, &choice)) << text;
    return choice;
}

TEST(CaptureSourceChoiceTest, NamesTheSources) {
    EXPECT_EQ(Parse("").kind, CaptureSourceKind::Desktop);
    EXPECT_EQ(Parse("desktop").kind, CaptureSourceKind::Desktop);
    EXPECT_EQ(Parse("synthetic").kind, CaptureSourceKind::Pattern);
    CaptureSourceChoice gdi;
    ASSERT_TRUE(ParseCaptureSourceChoice("gdi", &gdi));
    EXPECT_EQ(gdi.kind, CaptureSourceKind::Gdi);
}

TEST(CaptureSourceChoiceTest, ReadsReplayPathsIncludingDriveLetters) {
    CaptureSourceChoice png = Parse("synthetic:png=a.png;C:\\pictures\\b.png");
    EXPECT_EQ(png.kind, CaptureSourceKind::Replay);
    EXPECT_EQ(png.imageFormat, ImageFormat::Png);
    EXPECT_EQ(png.imagePaths, (std::vector<std::string>{"a.png", "C:\\pictures\\b.png"}));

    CaptureSourceChoice ppm = Parse("synthetic:ppm=/tmp/one frame.ppm");
    EXPECT_EQ(ppm.imageFormat, ImageFormat::Ppm);
    EXPECT_EQ(ppm.imagePaths, (std::vector<std::string>{"/tmp/one frame.ppm"}));
}

TEST(CaptureSourceChoiceTest, RefusesAnythingElseAndKeepsTheSpec) {
    for (std::string_view text :
         {"Synthetic", "synthetic:", "synthetic:png=", "synthetic:png=a.png;",
          "synthetic:ppm=;a.ppm", "synthetic:ppm=a;;b", "synthetic:bmp=a.bmp", "synthetic=png",
          "gdi ", " desktop", "x11", "synthetic:png"}) {
        CaptureSourceChoice choice;
        choice.kind = CaptureSourceKind::Gdi;
        EXPECT_FALSE(ParseCaptureSourceChoice(text, &choice)) << text;
        EXPECT_EQ(choice.kind, CaptureSourceKind::Gdi) << text;
    }
}

}  // namespace
