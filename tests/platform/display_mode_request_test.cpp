#include "platform/display_mode_request.h"

#include <gtest/gtest.h>

namespace {

// A 144 Hz monitor in 30-bit colour, as the program found it.
constexpr DisplayMode kFound{2560, 1440, 30, 144};

TEST(ModeForSize, GoingBackToTheFoundSizeBringsBackDepthAndRate) {
    DisplayMode mode = ModeForSize(kFound, 2560, 1440);
    EXPECT_EQ(mode.width, 2560u);
    EXPECT_EQ(mode.height, 1440u);
    EXPECT_EQ(mode.bitsPerPixel, 30u);
    EXPECT_EQ(mode.frequency, 144u);
}

TEST(ModeForSize, AnyOtherSizeLeavesDepthAndRateToTheSystem) {
    // The projector's mode, and sizes that share one side with the found mode.
    for (auto [width, height] : {std::pair{800, 600}, {2560, 600}, {800, 1440}}) {
        DisplayMode mode = ModeForSize(kFound, width, height);
        EXPECT_EQ(mode.width, static_cast<uint32_t>(width));
        EXPECT_EQ(mode.height, static_cast<uint32_t>(height));
        EXPECT_EQ(mode.bitsPerPixel, 0u) << width << "x" << height;
        EXPECT_EQ(mode.frequency, 0u) << width << "x" << height;
    }
}

TEST(ModeForSize, WithoutAFoundModeOnlyTheSizeIsAskedFor) {
    DisplayMode mode = ModeForSize(std::nullopt, 2560, 1440);
    EXPECT_EQ(mode.width, 2560u);
    EXPECT_EQ(mode.bitsPerPixel, 0u);
    EXPECT_EQ(mode.frequency, 0u);
}

}  // namespace
