// The real encoder feeding the decoder, over every variant the decoder covers, on random,
// smooth and real pictures.
#include <gtest/gtest.h>

#include <random>

#include "image/image_file.h"
#include "tests/codec/codec_test_util.h"
#include "tests/decoder/round_trip_check.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Three bytes a pixel, rows top first, no padding.
struct Picture {
    int width;
    int height;
    Bytes pixels;
};

Picture RandomPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Picture picture{width, height, Bytes(size_t(width) * height * 3)};
    for (auto& b : picture.pixels)
        b = static_cast<uint8_t>(random());
    return picture;
}

// Gradients with a little noise: small differences, long runs of equal ones.
Picture SmoothPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Picture picture{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int noise = random() % 8 == 0 ? static_cast<int>(random() % 3) - 1 : 0;
            picture.pixels.push_back(static_cast<uint8_t>(x * 2 + noise));
            picture.pixels.push_back(static_cast<uint8_t>(y * 3));
            picture.pixels.push_back(static_cast<uint8_t>(200 - (x + y) / 4));
        }
    }
    return picture;
}

Picture LoadPicture(const char* name) {
    Image image;
    std::string error;
    EXPECT_TRUE(ReadImage(std::string(KV_TEST_DATA_DIR) + "/" + name, &image, &error)) << error;
    return {image.width, image.height, image.bgr};
}

// The picture as an encoder source of `bitsPerPixel` bits: rows padded to 4 bytes with
// junk, in memory top first or bottom first. 8 bits keep the second channel; 16 the
// first two; 32 add a fourth byte that differs from the others.
Bytes MakeSource(const Picture& picture, int bitsPerPixel, bool topDown) {
    const size_t stride = SourceStride(picture.width, bitsPerPixel);
    const int bytesPerPixel = bitsPerPixel / 8;
    Bytes source(stride * picture.height, 0xEE);
    for (int y = 0; y < picture.height; ++y) {
        const int memoryRow = topDown ? y : picture.height - 1 - y;
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* in = &picture.pixels[(size_t(y) * picture.width + x) * 3];
            uint8_t* out = &source[memoryRow * stride + size_t(x) * bytesPerPixel];
            const uint8_t pixel[4] = {in[0], in[1], in[2], static_cast<uint8_t>(in[0] ^ 0x5A)};
            if (bytesPerPixel == 1) {
                out[0] = in[1];
            } else {
                std::copy(pixel, pixel + bytesPerPixel, out);
            }
        }
    }
    return source;
}

// The whole picture, and a region inside it that starts neither at row 0 nor column 0.
std::vector<FrameCodecParams> Regions(const FrameCodecParams& base) {
    FrameCodecParams inner = base;
    inner.x = 3;
    inner.y = 2;
    inner.width = static_cast<uint16_t>(base.imageWidth - 5);
    inner.height = static_cast<uint16_t>(base.imageHeight - 3);
    return {base, inner};
}

void ExpectRoundTrip(const FrameCodecParams& params, const uint8_t* source) {
    const RoundTripReport report = RunRoundTrip(params, source);
    EXPECT_EQ(report.outcome, RoundTripOutcome::kMatched)
        << DescribeParams(params) << ": " << report.message;
}

// Runs every combination for one path: pictures x depths x flags x segment lengths x regions.
struct Sweep {
    std::vector<Picture> pictures;
    std::vector<std::pair<int, int>> typesAndDepths;
    std::vector<uint8_t> flags;
    std::vector<int> segmentPixels;
};

void RunSweep(const Sweep& sweep) {
    for (const Picture& picture : sweep.pictures) {
        for (const auto& [type, bitsPerPixel] : sweep.typesAndDepths) {
            for (uint8_t flags : sweep.flags) {
                const Bytes source = MakeSource(picture, bitsPerPixel, flags & FLAG_TOP_DOWN);
                for (int segmentPixels : sweep.segmentPixels) {
                    FrameCodecParams base = SenderParams(picture.width, picture.height);
                    base.type = static_cast<uint8_t>(type);
                    base.bitsPerPixel = bitsPerPixel;
                    base.flags = flags;
                    base.segmentPixels = segmentPixels;
                    for (const FrameCodecParams& params : Regions(base)) {
                        ExpectRoundTrip(params, source.data());
                    }
                }
            }
        }
    }
}

std::vector<Picture> TestPictures() {
    return {RandomPicture(37, 5, 1), SmoothPicture(70, 9, 2), LoadPicture("desktop_crop.ppm"),
            LoadPicture("photo_crop.ppm")};
}

TEST(RoundTrip, SegmentCoder) {
    // Word orders, bottom-up rows, the pixel-pair variant; segment lengths odd and even.
    RunSweep(
        {TestPictures(), {{1, 24}, {1, 32}}, {0x31, 0x21, 0x30, 0x20}, {64, 1, 2, 3, 7, 63, 85}});
    RunSweep({TestPictures(), {{1, 32}, {3, 32}}, {0x71, 0x61, 0x70}, {64, 1, 5, 63}});
    RunSweep({TestPictures(), {{3, 32}}, {0x31, 0x21, 0x30}, {64, 1, 2, 3, 7, 63}});
}

TEST(RoundTrip, PlanarCoder) {
    // Byte writer (run lengths), packed run lengths, values, pairs.
    RunSweep({TestPictures(),
              {{1, 24}, {1, 32}, {3, 32}},
              {0x01, 0x00, 0x11, 0x19, 0x99, 0x98, 0x91},
              {64, 1, 2, 3, 17, 63}});
    // Blocks for the segments that lie within a row, with each coder for the others.
    RunSweep({TestPictures(), {{1, 32}, {3, 32}}, {0x51, 0x59, 0xD9, 0x50}, {64}});
}

TEST(RoundTrip, SampleCoder) {
    RunSweep({TestPictures(),
              {{1, 8}, {3, 8}},
              {0x01, 0x00, 0x11, 0x19, 0x09, 0x18},
              {64, 1, 3, 100, 113}});
}

TEST(RoundTrip, Copies) {
    RunSweep({TestPictures(),
              {{0, 32}, {2, 8}, {2, 16}, {2, 24}, {4, 32}, {4, 24}},
              {0x01, 0x00},
              {64}});
}

TEST(RoundTrip, BlankRegions) {
    for (uint8_t flags : {0x31, 0x21, 0x11, 0x01}) {
        for (int segmentPixels : {64, 1, 2, 3, 85}) {
            for (auto [width, height] : {std::pair{3, 1}, {64, 1}, {100, 2}, {1024, 21}}) {
                FrameCodecParams params = SenderParams(width, height);
                params.flags = flags;
                params.segmentPixels = segmentPixels;
                ExpectRoundTrip(params, nullptr);
            }
        }
    }
}

// Header sizes beyond 20 move the payload; every header field comes back.
TEST(RoundTrip, HeaderFieldsAndSizes) {
    const Picture picture = SmoothPicture(30, 4, 3);
    for (int headerSize : {20, 21, 23, 24, 255}) {
        for (auto [type, flags] : {std::pair{1, 0x31}, {1, 0x11}, {1, 0x01}, {2, 0x01}}) {
            const Bytes source = MakeSource(picture, 24, true);
            FrameCodecParams params = SenderParams(picture.width, picture.height);
            params.headerSize = static_cast<uint8_t>(headerSize);
            params.type = static_cast<uint8_t>(type);
            params.flags = static_cast<uint8_t>(flags);
            params.tag = 0x1ABC;
            params.xAttr = 5;
            params.yAttr = 6;
            params.widthAttr = 7;
            params.heightAttr = 1;
            params.payloadAttr = 9;
            params.hdrByte17 = 0x17;
            params.hdrByte18 = 0x18;
            for (int i = 0; i < headerSize - 20; ++i)
                params.extraHeader[i] = static_cast<uint8_t>(i);
            ExpectRoundTrip(params, source.data());
        }
    }
}

// The sender's way: a captured 854 x 480 frame cut into 64,512-byte slices, each encoded
// as a 1024 x 21 image of 24 bits per pixel.
TEST(RoundTrip, SenderSlicesOfARealFrame) {
    const Picture frame = LoadPicture("desktop_text.png");
    constexpr size_t kSliceBytes = 1024 * 21 * 3;
    ASSERT_GE(frame.pixels.size(), kSliceBytes);
    for (size_t offset = 0; offset + kSliceBytes <= frame.pixels.size(); offset += kSliceBytes) {
        ExpectRoundTrip(SenderParams(1024, 21), frame.pixels.data() + offset);
    }
}

}  // namespace
