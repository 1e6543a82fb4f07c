#include "image/window_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mirrored_picture.h"

// One window cut from a desktop and fitted to the projector's frame, checked pixel by pixel at
// scales whose area average is plain (1 and 2), against where the bars must be.

namespace {

constexpr int kWidth = 854;
constexpr int kHeight = 480;
constexpr PixelLayout kBgrx;

struct Desktop {
    int width;
    int height;
    std::vector<uint8_t> bytes;  // 4-byte pixels, packed
    uint8_t* Pixel(int x, int y) { return &bytes[(static_cast<size_t>(y) * width + x) * 4]; }
};

Desktop NoisyDesktop(int width, int height, uint32_t seed) {
    Desktop desktop{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    std::mt19937 random(seed);
    for (uint8_t& byte : desktop.bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return desktop;
}

// A window's own picture, every pixel unlike its neighbours.
std::vector<uint8_t> WindowPicture(int width, int height) {
    std::vector<uint8_t> bgr;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bgr.insert(bgr.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                                   static_cast<uint8_t>(x * 7 + y * 13)});
        }
    }
    return bgr;
}

// Draws the window's picture at (left, top), clipped to the desktop.
void DrawWindow(Desktop* desktop, const std::vector<uint8_t>& bgr, PixelRect window) {
    for (int y = std::max(0, -window.y); y < window.height && window.y + y < desktop->height; ++y) {
        for (int x = std::max(0, -window.x); x < window.width && window.x + x < desktop->width;
             ++x) {
            std::copy_n(&bgr[(static_cast<size_t>(y) * window.width + x) * 3], 3,
                        desktop->Pixel(window.x + x, window.y + y));
        }
    }
}

std::vector<uint8_t> Fitted(Desktop& desktop, PixelRect window, int flip, bool* shown = nullptr) {
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 3, 0xCD);
    WindowScaler scaler(kWidth, kHeight, flip);
    bool placed = scaler.ScaleFromDesktop(desktop.bytes.data(), desktop.width, desktop.height,
                                          static_cast<size_t>(desktop.width) * 4, kBgrx, window,
                                          frame.data());
    if (shown != nullptr) {
        *shown = placed;
    }
    return frame;
}

// The frame pixel (x, y) should be the window's pixel at (x, y) / scale, shifted by the
// window's origin in the frame; black where that falls outside the window's part on the desktop.
void ExpectWindowAt(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& picture,
                    PixelRect window, int desktopWidth, int desktopHeight, int scale, int left,
                    int top) {
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            int wx = (x - left) >= 0 ? (x - left) / scale : -1;
            int wy = (y - top) >= 0 ? (y - top) / scale : -1;
            bool inside = wx >= 0 && wy >= 0 && wx < window.width && wy < window.height &&
                          window.x + wx >= 0 && window.y + wy >= 0 &&
                          window.x + wx < desktopWidth && window.y + wy < desktopHeight;
            const uint8_t* got = &frame[(static_cast<size_t>(y) * kWidth + x) * 3];
            for (int c = 0; c < 3; ++c) {
                uint8_t want =
                    inside ? picture[(static_cast<size_t>(wy) * window.width + wx) * 3 + c] : 0;
                wrong += got[c] != want;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(WindowFit, CutsAndFitsExactlyAndFollowsAMove) {
    // Half the frame's size: each window pixel becomes 2 x 2, no bars.
    const std::vector<uint8_t> picture = WindowPicture(427, 240);
    Desktop desktop = NoisyDesktop(1100, 700, 1);
    PixelRect window{100, 50, 427, 240};
    DrawWindow(&desktop, picture, window);
    std::vector<uint8_t> frame = Fitted(desktop, window, FLIP_NONE);
    ExpectWindowAt(frame, picture, window, 1100, 700, 2, 0, 0);

    // Moved over other noise: the same picture.
    Desktop moved = NoisyDesktop(1100, 700, 2);
    PixelRect there{640, 430, 427, 240};
    DrawWindow(&moved, picture, there);
    EXPECT_EQ(Fitted(moved, there, FLIP_NONE), frame);

    // One scaler following it, through a resize to the frame's own size (scale 1).
    WindowScaler scaler(kWidth, kHeight, FLIP_NONE);
    std::vector<uint8_t> followed(frame.size());
    for (PixelRect at : {window, there}) {
        Desktop step = NoisyDesktop(1100, 700, 3);
        DrawWindow(&step, picture, at);
        ASSERT_TRUE(scaler.ScaleFromDesktop(step.bytes.data(), 1100, 700, 1100 * 4, kBgrx, at,
                                            followed.data()));
        EXPECT_EQ(followed, frame);
    }
    const std::vector<uint8_t> large = WindowPicture(kWidth, kHeight);
    PixelRect resized{5, 7, kWidth, kHeight};
    DrawWindow(&desktop, large, resized);
    ASSERT_TRUE(scaler.ScaleFromDesktop(desktop.bytes.data(), 1100, 700, 1100 * 4, kBgrx, resized,
                                        followed.data()));
    ExpectWindowAt(followed, large, resized, 1100, 700, 1, 0, 0);
}

TEST(WindowFit, BarsAroundAWindowOfAnotherShapeAndEveryFlip) {
    const struct {
        int width, height, left, top;
    } shapes[] = {
        {200, 480, 327, 0},  // tall: bars left and right
        {854, 101, 0, 189},  // wide: bars above and below, the odd row below
        {100, 60, 27, 0},    // small, enlarged 8 times: 800 x 480
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.width);
        const std::vector<uint8_t> picture = WindowPicture(shape.width, shape.height);
        Desktop desktop = NoisyDesktop(1000, 600, 4);
        PixelRect window{31, 17, shape.width, shape.height};
        DrawWindow(&desktop, picture, window);
        std::vector<uint8_t> frame = Fitted(desktop, window, FLIP_NONE);
        int scale = kHeight / std::max(shape.height, shape.width * kHeight / kWidth);
        ExpectWindowAt(frame, picture, window, 1000, 600, std::max(scale, 1), shape.left,
                       shape.top);
        for (int flip : {FLIP_HORIZONTAL, FLIP_VERTICAL, FLIP_BOTH}) {
            EXPECT_EQ(Fitted(desktop, window, flip), Mirrored(frame, kWidth, kHeight, flip))
                << "flip " << flip;
        }
    }
}

TEST(WindowFit, PartlyOffTheDesktopKeepsItsScaleWithTheHiddenPartBlack) {
    const std::vector<uint8_t> picture = WindowPicture(427, 240);
    for (PixelRect window : {PixelRect{-27, -10, 427, 240}, PixelRect{800, 550, 427, 240}}) {
        SCOPED_TRACE(window.x);
        Desktop desktop = NoisyDesktop(1100, 700, 5);
        DrawWindow(&desktop, picture, window);
        ExpectWindowAt(Fitted(desktop, window, FLIP_NONE), picture, window, 1100, 700, 2, 0, 0);
        // Mirrored, the black corner goes with it.
        std::vector<uint8_t> straight = Fitted(desktop, window, FLIP_NONE);
        EXPECT_EQ(Fitted(desktop, window, FLIP_BOTH),
                  Mirrored(straight, kWidth, kHeight, FLIP_BOTH));
    }
}

TEST(WindowFit, AWindowLargerThanTheDesktopShowsItsVisiblePartAtTheWindowsScale) {
    // A maximised window's borders reach past every edge.
    Desktop desktop{300, 200, std::vector<uint8_t>(300 * 200 * 4)};
    for (size_t i = 0; i < desktop.bytes.size(); i += 4) {
        desktop.bytes[i] = 40, desktop.bytes[i + 1] = 90, desktop.bytes[i + 2] = 200;
    }
    PixelRect window{-50, -20, 400, 260};
    bool shown = false;
    std::vector<uint8_t> frame = Fitted(desktop, window, FLIP_NONE, &shown);
    ASSERT_TRUE(shown);
    WindowFit fit = FitWindow(300, 200, window, kWidth, kHeight, FLIP_NONE);
    EXPECT_EQ(fit.cut.x, 0);
    EXPECT_EQ(fit.cut.width, 300);
    EXPECT_EQ(fit.cut.height, 200);
    // The whole window fits 480 high: 480 / 260 frame pixels a window pixel both ways.
    const double scale = 480.0 / 260;
    EXPECT_NEAR(fit.placed.width, 300 * scale, 1);
    EXPECT_NEAR(fit.placed.height, 200 * scale, 1);
    EXPECT_NEAR(fit.placed.x, (kWidth - 400 * scale) / 2 + 50 * scale, 1);
    EXPECT_NEAR(fit.placed.y, 20 * scale, 1);
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            bool inside = x >= fit.placed.x && x < fit.placed.x + fit.placed.width &&
                          y >= fit.placed.y && y < fit.placed.y + fit.placed.height;
            const uint8_t* got = &frame[(static_cast<size_t>(y) * kWidth + x) * 3];
            wrong += inside ? !(got[0] == 40 && got[1] == 90 && got[2] == 200)
                            : !(got[0] == 0 && got[1] == 0 && got[2] == 0);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(WindowFit, NothingShownIsAllBlack) {
    Desktop desktop = NoisyDesktop(640, 400, 6);
    const std::vector<uint8_t> black(static_cast<size_t>(kWidth) * kHeight * 3, 0);
    for (PixelRect window : {
             PixelRect{10, 10, 0, 300},           // empty
             PixelRect{10, 10, 300, -5},          // negative
             PixelRect{640, 0, 300, 300},         // just past the right edge
             PixelRect{-300, -300, 300, 300},     // above and left
             PixelRect{-99999, 0, 100000, 400},   // a sliver of one column, too thin to show
             PixelRect{2147483000, 0, 1000, 10},  // its far edge past the int range
         }) {
        SCOPED_TRACE(window.x);
        bool shown = true;
        EXPECT_EQ(Fitted(desktop, window, FLIP_BOTH, &shown), black);
        EXPECT_FALSE(shown);
    }
}

}  // namespace
