#include <gtest/gtest.h>

#include <random>

#include "codec_test_util.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

}  // namespace

TEST(SegmentCoder, TwoPixelImage) {
    FrameCodecParams p = SenderParams(2, 1);
    const uint8_t image[6] = {10, 20, 30, 10, 20, 30};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 8);
    EXPECT_EQ(e.length, 28);
    EXPECT_EQ(Hex(e.bytes),
              "FB 14 00 10 00 00 00 00 02 40 01 00 08 00 00 00 31 00 04 61 "
              "9F F0 00 06 00 D0 F1 13");
}

TEST(SegmentCoder, WithoutWordWriterFlagTheStreamIsInOrder) {
    FrameCodecParams p = SenderParams(2, 1);
    p.flags = 0x21;
    const uint8_t image[6] = {10, 20, 30, 10, 20, 30};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(Hex(e.bytes, 20), "06 00 F0 9F 13 F1 D0 00");
}

TEST(SegmentCoder, OnePixelIsPaddedToTwo) {
    FrameCodecParams p = SenderParams(1, 1);
    const uint8_t image[4] = {128, 128, 128, 0};  // a row is padded to 4 bytes
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 3);
    EXPECT_EQ(e.length, 24);
    EXPECT_EQ(Hex(e.bytes, 20), "00 00 00 01");
}

TEST(SegmentCoder, BlackRowOf64) {
    FrameCodecParams p = SenderParams(64, 1);
    const std::vector<uint8_t> image(64 * 3, 0);
    Encoded e = EncodeExact(p, image.data());
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 52);
    EXPECT_EQ(Hex(e.bytes, 20, 8), "F3 F9 00 32 00 00 00 E0");
    EXPECT_EQ(e.length, 20 + 52);
}

TEST(SegmentCoder, RandomRowOf64IsStoredRaw) {
    FrameCodecParams p = SenderParams(64, 1);
    const std::vector<uint8_t> image = RandomBytes(64 * 3, 1);
    Encoded e = EncodeExact(p, image.data());
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 194);
    const std::vector<uint8_t> stream = StreamFromWords(e.bytes.data() + 20, 194);
    EXPECT_EQ(Hex(stream, 0, 4), "C0 80 " + Hex(image.data(), 2));
    EXPECT_EQ(std::vector<uint8_t>(stream.begin() + 2, stream.end()), image);
    EXPECT_EQ(e.length, 20 + 196);
    EXPECT_EQ(Hex(e.bytes, 20 + 192, 4),
              "00 00 " + Hex(image.data() + 191, 1) + " " + Hex(image.data() + 190, 1));
}

// Segments run on across row ends: the second takes the rest of row 0 and the start of
// row 1, whose first pixel is predicted from the last pixel of row 0.
TEST(SegmentCoder, SegmentsContinueAcrossRows) {
    const int width = 100, height = 2;
    FrameCodecParams p = SenderParams(width, height);
    std::vector<uint8_t> image(width * height * 3);
    auto pixel = [&](int c, int r) { return &image[(r * width + c) * 3]; };
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            pixel(c, r)[0] = static_cast<uint8_t>(c * 2 + r * 90);
            pixel(c, r)[1] = static_cast<uint8_t>(200 - c + r * 7);
            pixel(c, r)[2] = static_cast<uint8_t>((c * c) / 16 + r);
        }
    }
    Encoded e = EncodeExact(p, image.data());
    ASSERT_TRUE(e.ok);
    const std::vector<uint8_t> stream = StreamFromWords(e.bytes.data() + 20, p.payloadSize);
    struct Span {
        int row, first, count;
    };
    const std::vector<std::vector<Span>> segments = {
        {{0, 0, 64}}, {{0, 64, 36}, {1, 0, 28}}, {{1, 28, 64}}, {{1, 92, 8}}};
    size_t at = 0;
    for (const auto& spans : segments) {
        const size_t body = stream.at(at) | stream.at(at + 1) << 8;
        ASSERT_LT(body, 0x8000u) << "segment at " << at << " is raw";
        TestBitReader reader(stream, (at + 2) * 8);
        const uint8_t* previous = nullptr;
        for (const Span& s : spans) {
            for (int c = s.first; c < s.first + s.count; ++c) {
                for (int k = 0; k < 3; ++k) {
                    const int predictor = previous ? previous[k] : 128;
                    ASSERT_EQ(reader.Value(), WrapDifference(pixel(c, s.row)[k], predictor))
                        << "row " << s.row << " column " << c << " channel " << k;
                }
                previous = pixel(c, s.row);
            }
        }
        EXPECT_EQ((reader.Position() + 7) / 8, at + 2 + body);
        at += 2 + body;
    }
    EXPECT_EQ(at, static_cast<size_t>(p.payloadSize));
}

TEST(SegmentCoder, BottomUpRowsStartAtTheImagesLastRow) {
    FrameCodecParams p = SenderParams(1, 2);
    const uint8_t image[8] = {10, 20, 30, 0, 128, 128, 128, 0};
    Encoded topDown = EncodeExact(p, image);
    p.flags = 0x30;
    Encoded bottomUp = EncodeExact(p, image);
    ASSERT_TRUE(topDown.ok && bottomUp.ok);
    TestBitReader reader(StreamFromWords(bottomUp.bytes.data() + 20, p.payloadSize), 16);
    EXPECT_EQ(reader.Value(), 0);  // 128 - 128: image row 1 comes first
    EXPECT_EQ(reader.Value(), 0);
    EXPECT_EQ(reader.Value(), 0);
    EXPECT_EQ(reader.Value(), 10 - 128);
    EXPECT_NE(Hex(topDown.bytes, 20), Hex(bottomUp.bytes, 20));

    // A region row y is image row imageHeight - 1 - y.
    FrameCodecParams q = SenderParams(1, 1);
    q.flags = 0x30;
    q.imageHeight = 2;
    q.y = 1;
    Encoded row1 = EncodeExact(q, image);
    q.flags = 0x31;
    q.y = 0;
    Encoded row0 = EncodeExact(q, image);
    ASSERT_TRUE(row1.ok && row0.ok);
    EXPECT_EQ(Hex(row1.bytes, 20), Hex(row0.bytes, 20));
}

TEST(SegmentCoder, LastSegmentBelow8BytesIsFilledAtTheClose) {
    // Three zero differences, then 127 three times: 6 + 21 bits, a 4-byte body.
    FrameCodecParams p = SenderParams(2, 1);
    const uint8_t image[8] = {128, 128, 128, 255, 255, 255, 0, 0};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    const std::vector<uint8_t> stream = StreamFromWords(e.bytes.data() + 20, p.payloadSize);
    EXPECT_EQ(Hex(stream), "04 00 03 FF FF E0");
}

// Short bodies in segments other than the last still carry their own length.
TEST(SegmentCoder, EveryShortSegmentCarriesItsLength) {
    FrameCodecParams p = SenderParams(8, 1);
    p.segmentPixels = 2;
    std::vector<uint8_t> image(8 * 3, 128);
    image[3 * 3] = 0;  // pixel 3
    Encoded e = EncodeExact(p, image.data());
    ASSERT_TRUE(e.ok);
    const std::vector<uint8_t> stream = StreamFromWords(e.bytes.data() + 20, p.payloadSize);
    // Six zero codes take 2 bytes; pixel 3 adds an escape code (-128): 3 bytes.
    std::vector<size_t> bodies;
    for (size_t at = 0; at < stream.size(); at += 2 + bodies.back()) {
        bodies.push_back(stream[at] | stream[at + 1] << 8);
    }
    EXPECT_EQ(bodies, (std::vector<size_t>{2, 3, 2, 2}));
}

TEST(SegmentCoder, FourChannelsAndPixelPairsGiveTheSameCodes) {
    // Type 3 codes four channels of 32-bit pixels; the pixel-pair variant codes type 1
    // from 32-bit pixels with the same codes as the buffered coder.
    const int width = 70, height = 3;
    std::vector<uint8_t> image(width * height * 4);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i / 4 + i % 4 * 9);
    FrameCodecParams p = SenderParams(width, height);
    p.bitsPerPixel = 32;
    Encoded buffered = EncodeExact(p, image.data());
    p.flags |= 0x40;
    Encoded pairs = EncodeExact(p, image.data());
    ASSERT_TRUE(buffered.ok && pairs.ok);
    EXPECT_EQ(Hex(buffered.bytes, 20), Hex(pairs.bytes, 20));

    p.type = 3;
    Encoded four = EncodeExact(p, image.data());
    ASSERT_TRUE(four.ok);
    TestBitReader reader(StreamFromWords(four.bytes.data() + 20, p.payloadSize), 16);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(reader.Value(), WrapDifference(image[k], 128));
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(reader.Value(), WrapDifference(image[4 + k], image[k]));
}

// An odd last segment of random pixels: padded to an even count (the padding stored as
// zeros) by the buffered coder, kept as it is by the pixel-pair variant.
TEST(SegmentCoder, RawLastSegmentWithAndWithoutPadding) {
    const int width = 64 + 63;
    const std::vector<uint8_t> image = RandomBytes(width * 4, 2);
    FrameCodecParams p = SenderParams(width, 1);
    p.bitsPerPixel = 32;
    Encoded padded = EncodeExact(p, image.data());
    p.flags |= 0x40;
    Encoded unpadded = EncodeExact(p, image.data());
    ASSERT_TRUE(padded.ok && unpadded.ok);
    const std::vector<uint8_t> a = StreamFromWords(padded.bytes.data() + 20, 194 + 2 + 64 * 3);
    const std::vector<uint8_t> b = StreamFromWords(unpadded.bytes.data() + 20, 194 + 2 + 63 * 3);
    EXPECT_EQ(Hex(a, 194, 2), "C0 80");
    EXPECT_EQ(Hex(b, 194, 2), "BD 80");
    EXPECT_EQ(Hex(a, a.size() - 3), "00 00 00");
    EXPECT_EQ(Hex(a, 196, 63 * 3), Hex(b, 196));
    EXPECT_EQ(Hex(b, 196, 3), Hex(&image[64 * 4], 3));
}
