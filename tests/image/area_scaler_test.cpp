#include "image/area_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "mirrored_picture.h"

// The scaler against the plain definition of an area average: every source pixel weighed by
// how much of it lies in the output pixel, measured without reducing the units, summed over
// the whole picture and divided once.

namespace {

struct Picture {
    int width;
    int height;
    size_t stride;
    std::vector<uint8_t> bytes;
};

Picture RandomPicture(int width, int height, size_t padding, uint32_t seed) {
    Picture picture{width, height, static_cast<size_t>(width) * 4 + padding, {}};
    picture.bytes.resize(picture.stride * height);
    std::mt19937 random(seed);
    for (uint8_t& byte : picture.bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return picture;
}

// Overlap of output cell `out` (each `outSpan` long) and source cell `in` (each `inSpan`).
int64_t Overlap(int64_t out, int64_t outSpan, int64_t in, int64_t inSpan) {
    return std::max<int64_t>(
        0, std::min((out + 1) * outSpan, (in + 1) * inSpan) - std::max(out * outSpan, in * inSpan));
}

std::vector<uint8_t> Reference(const Picture& src, int width, int height, PixelLayout layout) {
    // An output pixel is src.width x src.height units, a source pixel width x height.
    std::vector<uint8_t> bgr;
    const int offsets[3] = {layout.blue, layout.green, layout.red};
    // Each output pixel weighs src.width x src.height units in all.
    const int64_t whole = int64_t{src.width} * src.height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int offset : offsets) {
                int64_t sum = 0;
                for (int j = 0; j < src.height; ++j) {
                    int64_t down = Overlap(y, src.height, j, height);
                    for (int i = 0; down != 0 && i < src.width; ++i) {
                        int64_t across = Overlap(x, src.width, i, width);
                        sum += across * down * src.bytes[j * src.stride + i * 4 + offset];
                    }
                }
                bgr.push_back(static_cast<uint8_t>((2 * sum + whole) / (2 * whole)));  // half up
            }
        }
    }
    return bgr;
}

std::vector<uint8_t> Scaled(const Picture& src, int width, int height, PixelLayout layout) {
    AreaScaler scaler(src.width, src.height, width, height);
    EXPECT_TRUE(scaler.Ready());
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3, 0xCD);
    scaler.Scale(src.bytes.data(), src.stride, layout, bgr.data());
    return bgr;
}

struct Case {
    int srcWidth, srcHeight, width, height;
};

TEST(AreaScaler, MatchesTheAreaAverageExactly) {
    const Case cases[] = {
        {97, 61, 40, 25},      // down, sizes sharing no factor
        {192, 108, 85, 48},    // the desktop to the projector, a tenth of the size
        {120, 54, 113, 53},    // barely smaller
        {30, 20, 85, 48},      // up
        {50, 40, 85, 16},      // up across, down the rows
        {7, 3, 7, 3},          // the same size
        {1, 1, 3, 2},          // one pixel everywhere
        {113, 1, 2, 1},        // one row
        {50, 131, 17, 2},      // 131 rows to an output row: row sums past 2^15
        {240, 135, 107, 106},  // the zoomed session's rows, an eighth of the size: the same
        {67, 300, 3, 1},       // 300 rows to an output row: 32-bit row sums
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.srcWidth << "x" << c.srcHeight << " to " << c.width << "x" << c.height);
        Picture src = RandomPicture(c.srcWidth, c.srcHeight, 12, seed++);
        EXPECT_EQ(Scaled(src, c.width, c.height, {}), Reference(src, c.width, c.height, {}));
    }
}

// Read band by band, each band starting where the next output row's source rows do (the last
// one moved up to end at the bottom), as the desktop source reads the screen.
TEST(AreaScaler, ScalesBandByBandAsItScalesTheWholePicture) {
    const Case cases[] = {
        {192, 108, 85, 48},    // down
        {240, 135, 107, 106},  // down by little: bands overlap by a row
        {30, 20, 85, 48},      // up
    };
    for (const Case& c : cases) {
        Picture src = RandomPicture(c.srcWidth, c.srcHeight, 4, 11);
        AreaScaler scaler(src.width, src.height, c.width, c.height);
        for (int bandRows : {scaler.SourceRowsPerOutputRow(), 7, c.srcHeight}) {
            SCOPED_TRACE(testing::Message() << c.srcWidth << "x" << c.srcHeight << " to " << c.width
                                            << "x" << c.height << " in bands of " << bandRows);
            bandRows = std::max(bandRows, scaler.SourceRowsPerOutputRow());
            std::vector<uint8_t> bgr(static_cast<size_t>(c.width) * c.height * 3, 0xCD);
            int reads = 0;
            for (int row = 0; row < c.height && reads <= c.height; ++reads) {
                int top = std::min(scaler.FirstSourceRow(row), c.srcHeight - bandRows);
                row = scaler.ScaleBand(row, src.bytes.data() + top * src.stride, top, bandRows,
                                       src.stride, {}, bgr.data());
            }
            EXPECT_EQ(bgr, Reference(src, c.width, c.height, {}));
        }
    }
}

// Both column paths (16-bit pairs, 32-bit sums), whole and band by band, and odd sizes so a
// middle row or column stays where it is.
TEST(AreaScaler, MirrorsTheOutputForEveryFlip) {
    const Case cases[] = {{192, 108, 85, 48}, {67, 300, 3, 1}, {31, 17, 9, 5}};
    for (const Case& c : cases) {
        Picture src = RandomPicture(c.srcWidth, c.srcHeight, 4, 5);
        std::vector<uint8_t> upright = Reference(src, c.width, c.height, {});
        for (int flip : {FLIP_NONE, FLIP_HORIZONTAL, FLIP_VERTICAL, FLIP_BOTH}) {
            SCOPED_TRACE(testing::Message()
                         << c.srcWidth << "x" << c.srcHeight << " flip " << flip);
            AreaScaler scaler(src.width, src.height, c.width, c.height);
            scaler.SetFlip(flip);
            std::vector<uint8_t> bgr(upright.size(), 0xCD);
            scaler.Scale(src.bytes.data(), src.stride, {}, bgr.data());
            EXPECT_EQ(bgr, Mirrored(upright, c.width, c.height, flip));
            std::fill(bgr.begin(), bgr.end(), 0xCD);
            const int bandRows = scaler.SourceRowsPerOutputRow();
            for (int row = 0, reads = 0; row < c.height && reads <= c.height; ++reads) {
                int top = std::min(scaler.FirstSourceRow(row), c.srcHeight - bandRows);
                row = scaler.ScaleBand(row, src.bytes.data() + top * src.stride, top, bandRows,
                                       src.stride, {}, bgr.data());
            }
            EXPECT_EQ(bgr, Mirrored(upright, c.width, c.height, flip));
        }
    }
}

TEST(FlipPicture, MovesEveryPixelToItsMirroredPlace) {
    for (auto [width, height] : {std::pair{5, 3}, std::pair{4, 6}, std::pair{1, 1}}) {
        std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
        std::mt19937 random(static_cast<uint32_t>(width));
        for (uint8_t& byte : bgr) {
            byte = static_cast<uint8_t>(random());
        }
        for (int flip : {FLIP_NONE, FLIP_HORIZONTAL, FLIP_VERTICAL, FLIP_BOTH}) {
            std::vector<uint8_t> flipped = bgr;
            FlipPicture(flipped.data(), width, height, flip);
            EXPECT_EQ(flipped, Mirrored(bgr, width, height, flip)) << width << "x" << height;
        }
    }
}

TEST(AreaScaler, TakesTheChannelsFromWhereTheLayoutPutsThem) {
    Picture src = RandomPicture(64, 36, 0, 7);
    const PixelLayout redFirst = {2, 1, 0};
    const PixelLayout bigEndian = {3, 2, 1};
    EXPECT_EQ(Scaled(src, 27, 15, redFirst), Reference(src, 27, 15, redFirst));
    EXPECT_EQ(Scaled(src, 27, 15, bigEndian), Reference(src, 27, 15, bigEndian));
}

TEST(AreaScaler, AtTheSameSizeCopiesThePixels) {
    Picture src = RandomPicture(33, 9, 4, 3);
    std::vector<uint8_t> expected;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 33; ++x) {
            const uint8_t* pixel = src.bytes.data() + y * src.stride + x * 4;
            expected.insert(expected.end(), {pixel[0], pixel[1], pixel[2]});
        }
    }
    EXPECT_EQ(Scaled(src, 33, 9, {}), expected);
}

// The largest weights there are: a white screen must stay white, not wrap around.
TEST(AreaScaler, SumsOfTheLargestWeightsDoNotOverflow) {
    const Case cases[] = {
        {2897, 2891, 854, 480},  // sizes sharing no factor: 32-bit row sums
        {1920, 1080, 854, 480},  // the usual desktop: 16-bit row sums
        {1920, 1080, 854, 848},  // the zoomed session: row sums past 2^15 in the paired columns
    };
    for (const Case& c : cases) {
        Picture white{c.srcWidth, c.srcHeight, static_cast<size_t>(c.srcWidth) * 4, {}};
        white.bytes.assign(white.stride * c.srcHeight, 255);
        std::vector<uint8_t> scaled = Scaled(white, c.width, c.height, {});
        EXPECT_EQ(std::count(scaled.begin(), scaled.end(), 255),
                  static_cast<std::ptrdiff_t>(scaled.size()));
    }
}

TEST(AreaScaler, RefusesSizesWhoseWeightsWouldOverflow) {
    EXPECT_FALSE(AreaScaler(4099, 2053, 854, 480).Ready());
    EXPECT_TRUE(AreaScaler(7680, 4320, 854, 480).Ready());
}

// A monitor that was taken away reads as 0 x 0: no scaler, rather than a division by a weight
// of zero.
TEST(AreaScaler, RefusesEmptySizes) {
    const Case cases[] = {
        {0, 0, 854, 480}, {0, 480, 854, 480}, {854, 0, 854, 480},
        {854, 480, 0, 0}, {854, 480, 0, 480}, {854, 480, 854, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.srcWidth << "x" << c.srcHeight << " to " << c.width << "x" << c.height);
        EXPECT_FALSE(AreaScaler(c.srcWidth, c.srcHeight, c.width, c.height).Ready());
    }
}

}  // namespace
