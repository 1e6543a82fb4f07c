// Units written out by hand from the format description, so that the decoder is checked
// independently of the encoder.
#include <gtest/gtest.h>

#include <random>

#include "codec/frame_decoder.h"
#include "tests/decoder/unit_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

DecodedRegion Decode(const Bytes& unit, DecodeOptions options = {}) {
    DecodedRegion region;
    const DecodeResult result = DecodeFrame(unit.data(), unit.size(), options, &region);
    EXPECT_EQ(result, DECODE_OK) << DecodeResultText(result);
    return region;
}

Bytes RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A segment-coder unit of the sender's kind (flags 0x31) over a width x height region.
Bytes SenderUnit(uint16_t width, uint16_t height, const Bytes& stream, uint8_t flags = 0x31) {
    UnitFields fields;
    fields.width = width;
    fields.height = height;
    fields.widthAttr = 2;
    fields.hdrByte18 = 4;
    fields.flags = flags;
    Bytes stored = stream;
    if (flags & 0x10) {
        stored = AsStoredWords(stream);
    } else {
        stored.resize((stream.size() + 3) / 4 * 4, 0);
    }
    return MakeUnit(fields, static_cast<uint32_t>(stream.size()), stored);
}

TEST(DecodeSegmentCoder, TwoPixelSliceFromItsBytes) {
    const Bytes unit = {0xFB, 0x14, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x02, 0x40,
                        0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x31, 0x00, 0x04, 0x61,
                        0x9F, 0xF0, 0x00, 0x06, 0x00, 0xD0, 0xF1, 0x13};
    const DecodedRegion region = Decode(unit);
    EXPECT_EQ(region.header.type, 1);
    EXPECT_EQ(region.header.width, 2);
    EXPECT_EQ(region.header.widthAttr, 2);
    EXPECT_EQ(region.header.height, 1);
    EXPECT_EQ(region.header.payloadSize, 8u);
    EXPECT_EQ(region.header.flags, 0x31);
    EXPECT_EQ(region.header.hdrByte18, 4);
    EXPECT_EQ(region.bytesPerPixel, 3);
    EXPECT_EQ(region.pixels, (Bytes{10, 20, 30, 10, 20, 30}));
}

TEST(DecodeSegmentCoder, WordsInStreamOrderWhenFlagBit4IsClear) {
    UnitFields fields;
    fields.width = 2;
    fields.widthAttr = 2;
    fields.hdrByte18 = 4;
    fields.flags = 0x21;
    const Bytes unit = MakeUnit(fields, 8, {0x06, 0x00, 0xF0, 0x9F, 0x13, 0xF1, 0xD0, 0x00});
    EXPECT_EQ(Decode(unit).pixels, (Bytes{10, 20, 30, 10, 20, 30}));
}

TEST(DecodeSegmentCoder, SingleGreyPixelWithDeferredLength) {
    UnitFields fields;
    fields.width = 1;
    EXPECT_EQ(Decode(MakeUnit(fields, 3, {0x00, 0x00, 0x00, 0x01})).pixels, (Bytes{128, 128, 128}));
}

TEST(DecodeSegmentCoder, BlackRowOfEscapesAndZeros) {
    UnitFields fields;
    fields.width = 64;
    Bytes stored = {0xF3, 0xF9, 0x00, 0x32, 0x00, 0x00, 0x00, 0xE0};
    stored.resize(52, 0);
    const DecodedRegion region = Decode(MakeUnit(fields, 52, stored));
    EXPECT_EQ(region.pixels, Bytes(64 * 3, 0));
}

TEST(DecodeSegmentCoder, RawSegmentOfRandomBytes) {
    const Bytes pixels = RandomBytes(192, 1);
    const DecodedRegion region = Decode(SenderUnit(64, 1, Concat({{0xC0, 0x80}, pixels})));
    EXPECT_EQ(region.pixels, pixels);
}

// Segments run on across rows: 100 x 2 pixels are segments of 64, 64, 64 and 8 pixels.
TEST(DecodeSegmentCoder, SegmentsContinueAcrossRows) {
    const Bytes pixels = RandomBytes(200 * 3, 2);
    Bytes stream;
    for (size_t first = 0; first < 200; first += 64) {
        const size_t count = std::min<size_t>(64, 200 - first) * 3;
        stream.push_back(static_cast<uint8_t>(count));
        stream.push_back(0x80);
        stream.insert(stream.end(), pixels.begin() + first * 3,
                      pixels.begin() + (first * 3 + count));
    }
    EXPECT_EQ(Decode(SenderUnit(100, 2, stream)).pixels, pixels);
}

// The first pixel of a row is predicted from the last pixel of the row above when both
// are in one segment: 2 + 0 + 0 | 1 0 0 | -2 0 0 | 0 0 0.
TEST(DecodeSegmentCoder, PredictionCarriesOverRowEnds) {
    const Bytes body = BitsToBytes("01110 00 00  0101 00 00  01101 00 00  00 00 00");
    ASSERT_EQ(body.size(), 4u);
    const DecodedRegion region = Decode(SenderUnit(2, 2, Concat({{0x04, 0x00}, body})));
    EXPECT_EQ(region.pixels, (Bytes{130, 128, 128, 131, 128, 128, 129, 128, 128, 129, 128, 128}));
}

// A short last segment of an odd pixel count stored raw: padded by one zero pixel, except
// in the pixel-pair variant.
TEST(DecodeSegmentCoder, RawLastSegmentPaddingDependsOnVariant) {
    const Bytes pixels = RandomBytes(63 * 3, 3);
    const Bytes padded = Concat({{0xC0, 0x80}, pixels, {0, 0, 0}});
    const Bytes exact = Concat({{0xBD, 0x80}, pixels});
    EXPECT_EQ(Decode(SenderUnit(63, 1, padded, 0x31)).pixels, pixels);
    EXPECT_EQ(Decode(SenderUnit(63, 1, exact, 0x71)).pixels, pixels);
    DecodedRegion region;
    const Bytes swapped[] = {SenderUnit(63, 1, exact, 0x31), SenderUnit(63, 1, padded, 0x71)};
    for (const Bytes& unit : swapped) {
        EXPECT_EQ(DecodeFrame(unit.data(), unit.size(), {}, &region), DECODE_BAD_SEGMENT);
    }
}

TEST(DecodeSegmentCoder, FourChannelsForType3) {
    UnitFields fields;
    fields.type = 3;
    fields.width = 1;
    const DecodedRegion region =
        Decode(MakeUnit(fields, 3, AsStoredWords({0x01, 0x00, 0x00})), {32, 64, false});
    EXPECT_EQ(region.bytesPerPixel, 4);
    EXPECT_EQ(region.pixels, (Bytes{128, 128, 128, 128}));
}

TEST(DecodeBlankRegion, ThreeWhitePixels) {
    UnitFields fields;
    fields.width = 3;
    const Bytes unit = MakeUnit(fields, 7, {0xFF, 0xFF, 0x00, 0x05, 0x00, 0x00, 0x00, 0xF8});
    DecodeOptions options;
    options.blankRegion = true;
    const DecodedRegion region = Decode(unit, options);
    EXPECT_EQ(region.bytesPerPixel, 3);
    EXPECT_EQ(region.pixels, Bytes(9, 255));
}

// Samples 128, 129, 131, 131, 131, 200, 0, 255, 255, 128 with value codes (flags 0x19),
// filled up with zero differences to the 64-sample segment.
TEST(DecodeSamples8, ValueCodedSegmentFromItsWords) {
    UnitFields fields;
    fields.width = 10;
    fields.flags = 0x19;
    Bytes stored = {0xE8, 0xC1, 0x15, 0x14, 0x80, 0x1F, 0xC2, 0xBD};
    stored.resize(24, 0);
    const DecodedRegion region = Decode(MakeUnit(fields, 21, stored), {8, 64, false});
    EXPECT_EQ(region.bytesPerPixel, 1);
    EXPECT_EQ(region.pixels, (Bytes{128, 129, 131, 131, 131, 200, 0, 255, 255, 128}));
}

// Differences 5, 0, 0, -1 and 60 zeros: (0, 5), (2, -1), ZRL three times, EOB.
TEST(DecodeSamples8, RunLengthSegmentInBothWriters) {
    const Bytes body = BitsToBytes("100101 111000 11111111001 11111111001 11111111001 1010");
    const Bytes stream = Concat({{static_cast<uint8_t>(body.size())}, body});
    Bytes expected = {133, 133, 133, 132};
    expected.resize(64, 132);
    UnitFields fields;
    fields.width = 64;
    fields.flags = 0x10;  // packed words
    EXPECT_EQ(Decode(MakeUnit(fields, 8, AsStoredWords(stream)), {8, 64, false}).pixels, expected);
    fields.flags = 0x00;  // byte writer
    EXPECT_EQ(Decode(MakeUnit(fields, 8, stream), {8, 64, false}).pixels, expected);
}

// Pixels (130, 128, 127), (130, 129, 127): each channel its own run-length segment.
TEST(DecodePlanar, RunLengthChannelSegments) {
    const Bytes stream = Concat({{0x01},
                                 BitsToBytes("0110 1010"),
                                 {0x01},
                                 BitsToBytes("11001"),
                                 {0x01},
                                 BitsToBytes("000 1010")});
    const Bytes expected = {130, 128, 127, 130, 129, 127};
    UnitFields fields;
    fields.width = 2;
    fields.flags = 0x01;
    EXPECT_EQ(Decode(MakeUnit(fields, 6, stream)).pixels, expected);
    fields.flags = 0x11;
    EXPECT_EQ(Decode(MakeUnit(fields, 6, AsStoredWords(stream))).pixels, expected);
}

// Value codes (flags 0x19) and pair codes (0x99) of the same pixels give the same bits;
// type 3 codes three channels only.
TEST(DecodePlanar, ValueAndPairChannelSegments) {
    const Bytes stream = Concat({{0x01},
                                 BitsToBytes("01110 00"),
                                 {0x01},
                                 BitsToBytes("00 0101"),
                                 {0x01},
                                 BitsToBytes("0100 00")});
    const Bytes expected = {130, 128, 127, 130, 129, 127};
    UnitFields fields;
    fields.width = 2;
    for (uint8_t flags : {0x19, 0x99}) {
        fields.flags = flags;
        EXPECT_EQ(Decode(MakeUnit(fields, 6, AsStoredWords(stream))).pixels, expected);
    }
    fields.type = 3;
    const DecodedRegion region = Decode(MakeUnit(fields, 6, AsStoredWords(stream)), {32, 64});
    EXPECT_EQ(region.bytesPerPixel, 3);
    EXPECT_EQ(region.pixels, expected);
}

// A segment that lies within one row is a block: pair codes whatever the other flags say.
TEST(DecodePlanar, BlockSegmentsArePairCoded) {
    Bytes stream;
    for (int channel = 0; channel < 3; ++channel) {
        stream.push_back(16);
        stream.insert(stream.end(), 16, 0);  // 64 two-bit zero codes
    }
    UnitFields fields;
    fields.width = 64;
    fields.flags = 0x51;
    const Bytes unit =
        MakeUnit(fields, static_cast<uint32_t>(stream.size()), AsStoredWords(stream));
    EXPECT_EQ(Decode(unit, {32, 64}).pixels, Bytes(64 * 3, 128));
}

TEST(DecodeCopies, RowsAndThreeBytePixels) {
    const Bytes pixels = RandomBytes(12, 4);
    UnitFields fields;
    fields.width = 3;
    fields.flags = 0x01;
    for (uint8_t type : {2, 4}) {
        fields.type = type;
        const Bytes nine(pixels.begin(), pixels.begin() + 9);
        const DecodedRegion region = Decode(MakeUnit(fields, 9, Concat({nine, {0, 0, 0}})));
        EXPECT_EQ(region.bytesPerPixel, 3);
        EXPECT_EQ(region.pixels, nine);
        EXPECT_EQ(Decode(MakeUnit(fields, 12, pixels), {32, 64}).pixels, pixels);
    }
    fields.type = 0;
    fields.height = 2;
    fields.width = 2;
    const DecodedRegion region = Decode(MakeUnit(fields, 12, pixels), {32, 64});
    EXPECT_EQ(region.bytesPerPixel, 3);
    EXPECT_EQ(region.pixels, pixels);
}

TEST(DecodeHeader, FieldsAndExtraHeaderBytes) {
    UnitFields fields;
    fields.headerSize = 24;
    fields.type = 2;
    fields.x = 0x1ABC;
    fields.y = 7;
    fields.width = 1;
    fields.flags = 0x01;
    const DecodedRegion region = Decode(MakeUnit(fields, 3, {1, 2, 3, 0}));
    EXPECT_EQ(region.header.headerSize, 24);
    EXPECT_EQ(region.header.x, 0x1ABC);
    EXPECT_EQ(region.header.y, 7);
    EXPECT_EQ(region.pixels, (Bytes{1, 2, 3}));
}

}  // namespace
