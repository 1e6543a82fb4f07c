#include "codec/huffman.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Bits(const HuffmanTable& t, int symbol) {
    std::string s;
    for (int i = t.length[symbol] - 1; i >= 0; --i)
        s += ((t.code[symbol] >> i) & 1) ? '1' : '0';
    return s;
}
}  // namespace

TEST(Huffman, CategoryCodesAreTheNineListed) {
    HuffmanTable t;
    BuildHuffmanTable(CategoryHuffman.counts, CategoryHuffman.symbols, &t);
    const char* expected[] = {"00", "010", "011", "100", "101", "110", "1110", "11110", "11111"};
    for (int s = 0; s < 9; ++s)
        EXPECT_EQ(Bits(t, s), expected[s]) << "symbol " << s;
    EXPECT_EQ(t.length[9], 0);
}

TEST(Huffman, RunLengthTableHasEobAndZrl) {
    HuffmanTable t;
    BuildHuffmanTable(RunLengthHuffman.counts, RunLengthHuffman.symbols, &t);
    EXPECT_EQ(RunLengthHuffman.symbolCount, 162);
    EXPECT_EQ(Bits(t, EOB), "1010");
    EXPECT_EQ(Bits(t, ZRL), "11111111001");
    EXPECT_EQ(Bits(t, 0x01), "00");
    EXPECT_EQ(Bits(t, 0x11), "1100");
    EXPECT_EQ(t.length[0xFA], 16);
}
