#include "kvcap/capture_source_spec.h"

#include <gtest/gtest.h>

namespace {

CaptureSourceSpec Parse(std::string_view text) {
    CaptureSourceSpec spec;
    spec.kind = CaptureSourceKind::Gdi;  // so that a parse that leaves it alone shows
    EXPECT_TRUE(ParseCaptureSourceSpec(text, &spec)) << text;
    return spec;
}

TEST(CaptureSourceSpecTest, NamesTheSources) {
    EXPECT_EQ(Parse("").kind, CaptureSourceKind::Desktop);
    EXPECT_EQ(Parse("desktop").kind, CaptureSourceKind::Desktop);
    EXPECT_EQ(Parse("synthetic").kind, CaptureSourceKind::Pattern);
    CaptureSourceSpec gdi;
    ASSERT_TRUE(ParseCaptureSourceSpec("gdi", &gdi));
    EXPECT_EQ(gdi.kind, CaptureSourceKind::Gdi);
}

TEST(CaptureSourceSpecTest, ReadsReplayPathsIncludingDriveLetters) {
    CaptureSourceSpec png = Parse("synthetic:png=a.png;C:\\pictures\\b.png");
    EXPECT_EQ(png.kind, CaptureSourceKind::Replay);
    EXPECT_EQ(png.imageFormat, ImageFormat::Png);
    EXPECT_EQ(png.imagePaths, (std::vector<std::string>{"a.png", "C:\\pictures\\b.png"}));

    CaptureSourceSpec ppm = Parse("synthetic:ppm=/tmp/one frame.ppm");
    EXPECT_EQ(ppm.imageFormat, ImageFormat::Ppm);
    EXPECT_EQ(ppm.imagePaths, (std::vector<std::string>{"/tmp/one frame.ppm"}));
}

TEST(CaptureSourceSpecTest, RefusesAnythingElseAndKeepsTheSpec) {
    for (std::string_view text :
         {"Synthetic", "synthetic:", "synthetic:png=", "synthetic:png=a.png;",
          "synthetic:ppm=;a.ppm", "synthetic:ppm=a;;b", "synthetic:bmp=a.bmp", "synthetic=png",
          "gdi ", " desktop", "x11", "synthetic:png"}) {
        CaptureSourceSpec spec;
        spec.kind = CaptureSourceKind::Gdi;
        EXPECT_FALSE(ParseCaptureSourceSpec(text, &spec)) << text;
        EXPECT_EQ(spec.kind, CaptureSourceKind::Gdi) << text;
    }
}

}  // namespace
