#include "codec/code_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "codec_test_util.h"

namespace {

std::string Bits824(uint32_t word) {
    std::string s;
    for (int i = static_cast<int>(CodeLength824(word)) - 1; i >= 0; --i) {
        s += (CodeBits824(word) >> i & 1) ? '1' : '0';
    }
    return s;
}

std::string Bits626(uint32_t word) {
    std::string s;
    for (int i = static_cast<int>(CodeLength626(word)) - 1; i >= 0; --i) {
        s += (CodeBits626(word) >> i & 1) ? '1' : '0';
    }
    return s;
}

}  // namespace

TEST(CodeTables, ValueCodesOfTheTellingDifferences) {
    const CodeTables& t = GetCodeTables();
    const struct {
        int v;
        const char* code;
    } expected[] = {
        {0, "00"},
        {1, "0101"},
        {-1, "0100"},
        {2, "01110"},
        {-2, "01101"},
        {126, "111101111110"},
        {127, "1111111"},
        {-127, "1111110"},
        {128, "1111100"},
        {-128, "1111100"},
        {129, "111100000000"},
        {-126, "111100000001"},
        {200, "1110000111"},
        {-200, "1110111000"},
        {255, "0100"},
        {-255, "0101"},
        {-129, "111101111111"},
    };
    for (const auto& e : expected)
        EXPECT_EQ(Bits824(t.ValueCode(e.v)), e.code) << "v " << e.v;
}

TEST(CodeTables, EveryValueCodeDecodesToItsDifferenceModulo256) {
    const CodeTables& t = GetCodeTables();
    for (int v = kMinDifference; v <= kMaxDifference; ++v) {
        const uint32_t code = t.ValueCode(v);
        ASSERT_LE(CodeLength824(code), kMaxValueCodeBits);
        std::vector<uint8_t> bytes(2);
        const uint32_t aligned = CodeBits824(code) << (16 - CodeLength824(code));
        bytes[0] = static_cast<uint8_t>(aligned >> 8);
        bytes[1] = static_cast<uint8_t>(aligned);
        TestBitReader reader(bytes);
        EXPECT_EQ(reader.Value(), WrapDifference(v, 0)) << "v " << v;
        EXPECT_EQ(reader.Position(), CodeLength824(code)) << "v " << v;
    }
}

TEST(CodeTables, PairCodesConcatenateTheValueCodes) {
    const CodeTables& t = GetCodeTables();
    EXPECT_EQ(Bits626(t.PairCode(0, 0)), "0000");
    EXPECT_EQ(Bits626(t.PairCode(5, kNoValue)), "100101");
    EXPECT_EQ(CodeLength626(t.PairCode(kNoValue, kNoValue)), 0u);
    EXPECT_EQ(CodeLength626(t.PairCode(kNoValue, 7)), 0u);
    for (int a = kMinDifference; a <= kMaxDifference; a += 7) {
        for (int b = kMinDifference; b <= kMaxDifference; b += 3) {
            ASSERT_EQ(Bits626(t.PairCode(a, b)), Bits824(t.ValueCode(a)) + Bits824(t.ValueCode(b)))
                << a << ", " << b;
        }
    }
}

TEST(CodeTables, RunValueCodes) {
    const CodeTables& t = GetCodeTables();
    EXPECT_EQ(Bits824(t.RunValueCode(0, 1)), "001");
    EXPECT_EQ(Bits824(t.RunValueCode(0, -1)), "000");
    EXPECT_EQ(Bits824(t.RunValueCode(0, 5)), "100101");
    EXPECT_EQ(Bits824(t.RunValueCode(1, 1)), "11001");
    EXPECT_EQ(Bits824(t.RunValueCode(15, 255)), "111111111111110011111111");
    // The 10-bit code of symbol 0x08, then the eight bits of 255.
    const std::string symbol8 = Bits824(PackCode824(t.runLength.length[8], t.runLength.code[8]));
    EXPECT_EQ(symbol8.size(), 10u);
    EXPECT_EQ(Bits824(t.RunValueCode(0, 255)), symbol8 + "11111111");
    EXPECT_EQ(Bits824(t.eobCode), "1010");
    EXPECT_EQ(Bits824(t.zrlCode), "11111111001");
    unsigned longest = 0;
    for (int r = 0; r < kRunRows; ++r) {
        for (int v = kMinDifference; v <= kMaxDifference; ++v) {
            if (v != 0)
                longest = std::max(longest, CodeLength824(t.RunValueCode(r, v)));
        }
    }
    EXPECT_EQ(longest, kMaxRunValueCodeBits);
}

TEST(CodeTables, CategoryCodeSpaceIsFull) {
    unsigned kraft = 0;  // sum of 2^(16 - length)
    for (int length = 1; length <= 16; ++length) {
        kraft += CategoryHuffman.counts[length - 1] << (16 - length);
    }
    EXPECT_EQ(kraft, 1u << 16);
}

// Under ctest every case is a process of its own, so here the tables are built for the
// first time, by two threads at once (run under ThreadSanitizer too).
TEST(CodeTables, TwoThreadsEncodingFirstGetTheSameBytes) {
    const uint8_t image[6] = {10, 20, 30, 10, 20, 30};
    Encoded results[2];
    auto encode = [&](int i) {
        FrameCodecParams p = SenderParams(2, 1);
        results[i] = EncodeExact(p, image);
    };
    std::thread a(encode, 0), b(encode, 1);
    a.join();
    b.join();
    for (const Encoded& e : results) {
        ASSERT_TRUE(e.ok);
        EXPECT_EQ(Hex(e.bytes, 20), "9F F0 00 06 00 D0 F1 13");
    }
}
