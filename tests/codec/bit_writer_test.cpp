#include "codec/bit_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// Segments are written as bytes in stream order and the payload's words turned round at
// the end; these helpers put `lead` bytes of 0xAA before the segments and close the payload
// with words least significant byte first, as the sender's units have them.
struct SegmentPayload {
    uint8_t bytes[512];
    uint8_t* end;
    explicit SegmentPayload(int lead) : end(bytes + lead) {
        std::fill(bytes, bytes + sizeof bytes, 0xEE);
        std::fill(bytes, end, 0xAA);
    }
    void Put(const std::vector<uint8_t>& values, int channels, int count) {
        bool raw = false;
        end = PutPixelSegment<BaseTier>(end, GetCodeTables(), values.data() + channels, channels,
                                        count, count, false, &raw);
    }
    size_t Close() { return CloseSegmentPayload<BaseTier>(bytes, end, FLAG_WORD_WRITER); }
};

// A segment that starts with 8 bits free in the word splits its length field: the low byte
// ends the first word, the high byte begins the second.
TEST(BitWriter, LengthFieldSplitAcrossWords) {
    SegmentPayload out(3);
    out.Put(FlatSegment(3, 60), 3, 60);  // 120 bits: a 15-byte body
    EXPECT_EQ(out.Close(), 3u + 2 + 15);
    EXPECT_EQ(out.bytes[0], 0x0F);  // bits 7-0 of word 0
    EXPECT_EQ(out.bytes[7], 0x00);  // bits 31-24 of word 1
    EXPECT_EQ(Hex(out.bytes, 4), "0F AA AA AA");
}

TEST(BitWriter, SegmentEndingOnAWordBoundaryStoresTheWord) {
    SegmentPayload out(0);
    const std::vector<uint8_t> flat = FlatSegment(3, 39);  // 78 bits: 10 bytes, 12 with field
    out.Put(flat, 3, 39);
    out.Put(flat, 3, 39);
    EXPECT_EQ(out.Close(), 24u);                       // whole words: no padding word follows
    EXPECT_EQ(Hex(out.bytes + 12, 4), "00 00 00 0A");  // the second field starts word 3
}

TEST(BitWriter, FiveByteBodyOfTheLastSegment) {
    SegmentPayload out(0);
    out.Put(FlatSegment(3, 20), 3, 20);  // 40 bits: 5 bytes
    EXPECT_EQ(out.Close(), 7u);
    EXPECT_EQ(Hex(StreamFromWords(out.bytes, 8)), "05 00 00 00 00 00 00 00");
}

// An abandoned coded attempt leaves no trace: the raw segment starts where it started.
TEST(BitWriter, AbandonedSegmentBecomesRawAtTheSamePosition) {
    std::mt19937 rng(3);
    std::vector<uint8_t> noisy(3 + 192);
    for (uint8_t& b : noisy)
        b = static_cast<uint8_t>(rng());
    for (int lead : {0, 1, 2, 3}) {
        SegmentPayload out(lead);
        out.Put(noisy, 3, 192);
        ASSERT_EQ(out.Close(), static_cast<size_t>(lead) + 194);
        std::vector<uint8_t> expected(static_cast<size_t>(lead), 0xAA);
        expected.push_back(0xC0);
        expected.push_back(0x80);
        expected.insert(expected.end(), noisy.begin() + 3, noisy.end());
        EXPECT_EQ(Hex(StreamFromWords(out.bytes, expected.size())), Hex(expected)) << lead;
    }
}
