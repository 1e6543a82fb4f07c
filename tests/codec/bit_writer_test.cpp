#include "codec/bit_writer.h"

#include <gtest/gtest.h>

#include <random>

#include "codec/pixel_segment.h"
#include "codec_test_util.h"

namespace {

// Values whose differences from their predictors are all zero (behind 3 spare bytes).
std::vector<uint8_t> FlatSegment(int channels, int values) {
    return std::vector<uint8_t>(static_cast<size_t>(channels + values), 128);
}

}  // namespace

TEST(BitWriter, CodesSplitAcrossWordsAndAreStoredLeastSignificantByteFirst) {
    uint8_t out[16] = {};
    PackedWriter w(out);
    w.Put(20, 0xABCDE);
    w.Put(24, 0x123456);  // 12 bits in the first word, 12 in the second
    w.Put(20, 0x789AB);
    EXPECT_EQ(w.CloseWords(), 8u);
    EXPECT_EQ(Hex(out, 8), "23 E1 CD AB AB 89 67 45");
    EXPECT_EQ(w.End(), out + 8);
}

TEST(BitWriter, ByteWriterStoresTheStreamInOrder) {
    uint8_t out[8] = {};
    ByteWriter w(out);
    w.Put(12, 0xABC);
    w.Put(3, 0x5);  // 15 bits: a zero bit pads the second byte
    EXPECT_EQ(w.CloseBytes(), 2u);
    EXPECT_EQ(Hex(out, 3), "AB CA 00");
    EXPECT_EQ(w.End(), out + 2);
}

// A segment that starts with 8 bits free in the word splits its length field: the low byte
// ends the first word, the high byte begins the second.
TEST(BitWriter, LengthFieldSplitAcrossWords) {
    uint8_t out[64] = {};
    PackedWriter w(out);
    w.Put(24, 0xAAAAAA);
    const std::vector<uint8_t> flat = FlatSegment(3, 60);  // 120 bits: a 15-byte body
    PutPixelSegment(w, GetCodeTables(), flat.data() + 3, 3, 60, 60, false);
    EXPECT_EQ(w.CloseWords(), 3u + 2 + 15);
    EXPECT_EQ(out[0], 0x0F);  // bits 7-0 of word 0
    EXPECT_EQ(out[7], 0x00);  // bits 31-24 of word 1
    EXPECT_EQ(Hex(out, 4), "0F AA AA AA");
}

TEST(BitWriter, SegmentEndingOnAWordBoundaryStoresTheWord) {
    uint8_t out[32] = {};
    PackedWriter w(out);
    const std::vector<uint8_t> flat = FlatSegment(3, 39);  // 78 bits: 10 bytes, 12 with field
    PutPixelSegment(w, GetCodeTables(), flat.data() + 3, 3, 39, 39, false);
    PutPixelSegment(w, GetCodeTables(), flat.data() + 3, 3, 39, 39, false);
    EXPECT_EQ(w.BitPosition(), 2u * 12 * 8);
    EXPECT_EQ(w.CloseWords(), 24u);
    EXPECT_EQ(w.End(), out + 24);
    EXPECT_EQ(Hex(out + 12, 4), "00 00 00 0A");  // the second field starts word 3
}

TEST(BitWriter, FiveByteBodyOfTheLastSegment) {
    uint8_t out[16] = {};
    PackedWriter w(out);
    const std::vector<uint8_t> flat = FlatSegment(3, 20);  // 40 bits: 5 bytes
    PutPixelSegment(w, GetCodeTables(), flat.data() + 3, 3, 20, 20, false);
    EXPECT_EQ(w.CloseWords(), 7u);
    EXPECT_EQ(Hex(StreamFromWords(out, 8)), "05 00 00 00 00 00 00 00");
}

// An abandoned coded attempt leaves no trace: the raw segment starts at the same bit.
TEST(BitWriter, AbandonedSegmentBecomesRawAtTheSamePosition) {
    std::mt19937 rng(3);
    std::vector<uint8_t> noisy(3 + 192);
    for (uint8_t& b : noisy)
        b = static_cast<uint8_t>(rng());
    for (unsigned lead : {0u, 8u, 16u, 24u}) {
        uint8_t coded[512], expected[512];
        std::fill(coded, coded + 512, 0xEE);
        std::fill(expected, expected + 512, 0xEE);
        PackedWriter a(coded), b(expected);
        a.Put(lead, 0x5A5A5A & ((1u << lead) - 1));
        b.Put(lead, 0x5A5A5A & ((1u << lead) - 1));
        PutPixelSegment(a, GetCodeTables(), noisy.data() + 3, 3, 192, 192, false);
        b.Put(8, 0xC0);
        b.Put(8, 0x80);
        b.PutBytes(noisy.data() + 3, 192);
        ASSERT_EQ(a.CloseWords(), b.CloseWords());
        EXPECT_EQ(a.End() - coded, b.End() - expected);
        EXPECT_EQ(Hex(coded, a.End() - coded), Hex(expected, b.End() - expected)) << lead;
    }
}
