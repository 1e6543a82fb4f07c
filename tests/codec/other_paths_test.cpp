#include <gtest/gtest.h>

#include "codec/bit_writer.h"
#include "codec/channel_segments.h"
#include "codec_test_util.h"

namespace {

std::string Bits(const CodeTables& t, uint32_t code824) {
    std::string s;
    for (int i = static_cast<int>(CodeLength824(code824)) - 1; i >= 0; --i) {
        s += (CodeBits824(code824) >> i & 1) ? '1' : '0';
    }
    (void)t;
    return s;
}

// Writes one channel segment with the byte writer; returns the stream.
template <class Put>
std::vector<uint8_t> ChannelSegment(Put put) {
    uint8_t out[512] = {};
    ByteWriter w(out);
    put(w);
    return std::vector<uint8_t>(out, out + w.CloseBytes());
}

FrameCodecParams PlanarParams(int width, int height, uint8_t flags) {
    FrameCodecParams p = SenderParams(width, height);
    p.flags = flags;
    return p;
}

}  // namespace

TEST(ChannelSegments, RunLengthCodesZeroRunsZrlAndEob) {
    const CodeTables& t = GetCodeTables();
    std::vector<int16_t> values(64, 0);
    values[0] = 5;
    values[3] = -1;
    const std::vector<uint8_t> s = ChannelSegment([&](ByteWriter& w) {
        PutChannelSegment(w, t, ChannelCoder::kRunLength, values.data(), 64);
    });
    const std::string zrl = "11111111001";
    const std::string expected =
        "100101" + Bits(t, t.RunValueCode(2, -1)) + zrl + zrl + zrl + "1010";
    EXPECT_EQ(Bits(t, t.RunValueCode(2, -1)), "111000");
    ASSERT_EQ(s.size(), 1 + (expected.size() + 7) / 8);
    EXPECT_EQ(s[0], s.size() - 1);
    TestBitReader reader(s, 8);
    EXPECT_EQ(reader.Bits(static_cast<int>(expected.size())), expected);
    EXPECT_EQ(reader.Bits(static_cast<int>(s.size() * 8 - reader.Position())), "0000000");

    // Sixteen zeros at the end are one ZRL; seventeen are ZRL and EOB.
    std::vector<int16_t> v17(18, 0);
    v17[0] = 5;
    TestBitReader sixteen(ChannelSegment([&](ByteWriter& w) {
                              PutChannelSegment(w, t, ChannelCoder::kRunLength, v17.data(), 17);
                          }),
                          8);
    EXPECT_EQ(sixteen.Bits(17), "100101" + zrl);
    EXPECT_EQ(sixteen.Bits(7), "0000000");
    TestBitReader seventeen(ChannelSegment([&](ByteWriter& w) {
                                PutChannelSegment(w, t, ChannelCoder::kRunLength, v17.data(), 18);
                            }),
                            8);
    EXPECT_EQ(seventeen.Bits(21), "100101" + zrl + "1010");
}

TEST(ChannelSegments, SixtyFourZeroValuesTakeSixteenBytes) {
    const std::vector<int16_t> zeros(64, 0);
    const std::vector<uint8_t> s = ChannelSegment([&](ByteWriter& w) {
        PutChannelSegment(w, GetCodeTables(), ChannelCoder::kValue, zeros.data(), 64);
    });
    EXPECT_EQ(s.size(), 17u);
    EXPECT_EQ(s[0], 16);
}

TEST(ChannelSegments, PairSegmentOfAnOddCountEmitsOnlyItsValues) {
    const CodeTables& t = GetCodeTables();
    const int16_t values[5] = {1, -2, 127, 0, -200};
    const std::vector<uint8_t> pairs = ChannelSegment(
        [&](ByteWriter& w) { PutChannelSegment(w, t, ChannelCoder::kPair, values, 5); });
    const std::vector<uint8_t> single = ChannelSegment(
        [&](ByteWriter& w) { PutChannelSegment(w, t, ChannelCoder::kValue, values, 5); });
    EXPECT_EQ(pairs, single);
}

TEST(Samples8, TenSamplesAreOneSegmentOf64Values) {
    FrameCodecParams p = SenderParams(10, 1);
    p.bitsPerPixel = 8;
    p.flags = 0x19;
    const uint8_t image[12] = {128, 129, 131, 131, 131, 200, 0, 255, 255, 128, 0, 0};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 21);
    EXPECT_EQ(e.length, 44);
    EXPECT_EQ(Hex(e.bytes, 20),
              "E8 C1 15 14 80 1F C2 BD 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(Blank, ThreePixelsOfWhite) {
    FrameCodecParams p = SenderParams(3, 1);
    Encoded e = EncodeExact(p, nullptr);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 7);
    EXPECT_EQ(e.length, 28);
    EXPECT_EQ(Hex(e.bytes, 20), "FF FF 00 05 00 00 00 F8");
}

TEST(Blank, LengthIsExactlyTheBound) {
    for (int sp : {1, 7, 64, 85}) {
        FrameCodecParams p = SenderParams(300, 7);
        p.segmentPixels = sp;
        const size_t bound = MaxEncodedLength(p, false);
        Encoded e = EncodeExact(p, nullptr);
        ASSERT_TRUE(e.ok);
        EXPECT_EQ(static_cast<size_t>(e.length), bound) << sp;
    }
}

// Type 3 planar forms four channels' differences but writes three segments.
TEST(Planar, Type3WritesThreeSegmentsPerSegment) {
    FrameCodecParams p = PlanarParams(64, 1, 0x19);
    p.type = 3;
    p.bitsPerPixel = 32;
    std::vector<uint8_t> image(64 * 4, 128);
    for (int i = 0; i < 64; ++i)
        image[i * 4 + 3] = static_cast<uint8_t>(i * 37);
    Encoded e = EncodeExact(p, image.data());
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 3 * 17);
    const std::vector<uint8_t> s = StreamFromWords(e.bytes.data() + 20, p.payloadSize);
    EXPECT_EQ(s[0], 16);
    EXPECT_EQ(s[17], 16);
    EXPECT_EQ(s[34], 16);
}

// The run-length example as planar channel 0, through the packed and the byte writer.
TEST(Planar, RunLengthSegmentsWithEitherWriter) {
    std::vector<uint8_t> image(64 * 3, 128);
    const uint8_t channel0[4] = {133, 133, 133, 132};
    for (int i = 0; i < 64; ++i)
        image[i * 3] = i < 4 ? channel0[i] : 132;
    FrameCodecParams packed = PlanarParams(64, 1, 0x11);
    FrameCodecParams bytes = PlanarParams(64, 1, 0x01);
    Encoded a = EncodeExact(packed, image.data());
    Encoded b = EncodeExact(bytes, image.data());
    ASSERT_TRUE(a.ok && b.ok);
    // Channel 0: a 7-byte body; channels 1 and 2, 64 zeros: four ZRL (44 bits) each.
    EXPECT_EQ(packed.payloadSize, 8 + 7 + 7);
    EXPECT_EQ(bytes.payloadSize, packed.payloadSize);
    const std::vector<uint8_t> stream = StreamFromWords(a.bytes.data() + 20, 22);
    EXPECT_EQ(Hex(stream), Hex(b.bytes, 20, 22));
    EXPECT_EQ(Hex(stream, 8), "06 FF 3F E7 FC FF 90 06 FF 3F E7 FC FF 90");
    EXPECT_EQ(Hex(b.bytes, 42), "00 00");
    EXPECT_EQ(b.length, 44);
}

// Runs that fill a whole segment are block segments (pair codes straight from the
// source); the partial rest uses the coder the flags select.
TEST(Planar, BlockVariantCodesWholeRunsFromTheSource) {
    const int width = 100;
    std::vector<uint8_t> image(width * 4);
    for (int i = 0; i < width * 4; ++i)
        image[i] = static_cast<uint8_t>(100 + (i * 3) % 17);
    FrameCodecParams p = PlanarParams(width, 1, 0x51);
    p.bitsPerPixel = 32;
    Encoded e = EncodeExact(p, image.data());
    ASSERT_TRUE(e.ok);
    const std::vector<uint8_t> s = StreamFromWords(e.bytes.data() + 20, p.payloadSize);
    size_t at = 0;
    for (int k = 0; k < 3; ++k) {
        TestBitReader reader(s, (at + 1) * 8);
        int previous = 128;
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(reader.Value(), WrapDifference(image[i * 4 + k], previous)) << k << " " << i;
            previous = image[i * 4 + k];
        }
        EXPECT_EQ(s[at], (reader.Position() + 7) / 8 - at - 1);
        at += 1 + s[at];
    }
    // Three run-length segments for the last 36 pixels.
    for (int k = 0; k < 3; ++k)
        at += 1 + s.at(at);
    EXPECT_EQ(at, s.size());
}

TEST(CopyRows, ThreePixelsArePaddedToAWord) {
    FrameCodecParams p = SenderParams(3, 1);
    p.type = 2;
    const uint8_t image[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 9);
    EXPECT_EQ(e.length, 32);
    EXPECT_EQ(Hex(e.bytes, 20), "01 02 03 04 05 06 07 08 09 00 00 00");
}

TEST(CopyPixels3, ThreeBytesOfEachFourByteRegionPixel) {
    FrameCodecParams p = SenderParams(2, 1);
    p.type = 0;
    p.bitsPerPixel = 32;
    p.imageWidth = 3;
    p.imageHeight = 2;
    p.x = 1;
    p.y = 1;
    p.flags = 0x30;  // bottom-up: region row 1 is the image's first row in memory
    const uint8_t image[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                               13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(p.payloadSize, 6);
    EXPECT_EQ(Hex(e.bytes, 20), "05 06 07 09 0A 0B 00 00");
}
