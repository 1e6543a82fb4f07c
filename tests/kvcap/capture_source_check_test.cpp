#include "kvcap/capture_source_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kDataDir = KV_TEST_DATA_DIR;

TEST(CheckCaptureSource, SourcesThatCanStart) {
    std::string problem;
    EXPECT_TRUE(CheckCaptureSource("synthetic", &problem));
    EXPECT_TRUE(CheckCaptureSource(
        ("synthetic:png=" + kDataDir + "/photo.png;" + kDataDir + "/desktop_text.png").c_str(),
        &problem));
    EXPECT_TRUE(CheckCaptureSource(("synthetic:ppm=" + kDataDir + "/photo_crop.ppm").c_str(),
                                   &problem));
    EXPECT_EQ(problem, "");
}

TEST(CheckCaptureSource, EachProblemIsNamedForTheUser) {
    std::string problem;
    EXPECT_FALSE(CheckCaptureSource("synthetic:jpg=a.jpg", &problem));
    EXPECT_NE(problem.find("VORN_KVUSB_CAPTURE=\"synthetic:jpg=a.jpg\" names no capture source"),
              std::string::npos)
        << problem;

    // One image of the list that is not there, or not of the format named, stops it all.
    const std::string missing = kDataDir + "/no_such_picture.png";
    EXPECT_FALSE(CheckCaptureSource(
        ("synthetic:png=" + kDataDir + "/photo.png;" + missing).c_str(), &problem));
    EXPECT_NE(problem.find("cannot replay \"" + missing + "\""), std::string::npos) << problem;
    EXPECT_FALSE(CheckCaptureSource(("synthetic:png=" + kDataDir + "/photo_crop.ppm").c_str(),
                                    &problem));
    EXPECT_NE(problem.find("photo_crop.ppm"), std::string::npos) << problem;
}

}  // namespace
