#pragma once

#include <cstdint>

#include "codec/huffman.h"

// The lookup tables every coding path emits from: one packed word holds a whole code and
// its length, so a coder does one lookup per value (or per pair of values).

// Packed code word, layout 8/24: length in bits 24-31, code right-aligned in bits 0-23.
inline constexpr uint32_t PackCode824(unsigned length, uint32_t code) {
    return (length << 24) | code;
}
inline constexpr unsigned CodeLength824(uint32_t word) {
    return word >> 24;
}
inline constexpr uint32_t CodeBits824(uint32_t word) {
    return word & 0xFFFFFF;
}

// Packed code word, layout 6/26: length in bits 26-31, code in bits 0-25.
inline constexpr uint32_t PackCode626(unsigned length, uint32_t code) {
    return (length << 26) | code;
}
inline constexpr unsigned CodeLength626(uint32_t word) {
    return word >> 26;
}
inline constexpr uint32_t CodeBits626(uint32_t word) {
    return word & 0x3FFFFFF;
}

inline constexpr int kMinDifference = -255;
inline constexpr int kMaxDifference = 255;
inline constexpr int kDifferenceCount = kMaxDifference - kMinDifference + 1;  // 511
// In a pair, stands for "no value": the pair then emits only its first code, or nothing.
inline constexpr int kNoValue = 256;
inline constexpr int kPairSide = 512;
// Words from one PairCodes row to the next: not a power of two, so that the rows a picture
// uses do not all fall into the same few cache sets.
inline constexpr int kPairRowStride = kPairSide + 16;
inline constexpr int kRunRows = 16;
inline constexpr unsigned kMaxValueCodeBits = 12;
inline constexpr unsigned kMaxRunValueCodeBits = 24;

// Differences of ±127 and ±128 take symbol 8 with two extra bits instead of their
// category's code (128 and -128 are the same value modulo 256).
struct ValueEscape {
    int magnitude;  // matches v = magnitude and v = -magnitude; 0 ends the table
    uint8_t symbol;
    uint8_t extraBits;
    uint8_t base;  // extra value; plus 1 for v = +magnitude, except for 128
};
extern const ValueEscape ValueEscapes[3];

// The value codes of categories 0 to 8 as 16-byte rows for byte shuffles, for the coders that
// work out sixteen codes at once instead of looking each up.
struct CategoryRows {
    uint8_t bitsOfHighNibble[16];  // n == 0 ? 0 : 4 + the bits of n
    uint8_t bitsOfLowNibble[16];   // the bits of n
    uint8_t codeLow[16];           // (CategoryHuffman code << category) & 0xFF
    uint8_t codeHigh[16];          // (CategoryHuffman code << category) >> 8
    uint8_t length[16];            // CategoryHuffman length + category
    uint8_t extraMask[16];         // (1 << category) - 1
};

struct CodeTables {
    HuffmanTable category;                           // CategoryHuffman
    HuffmanTable runLength;                          // RunLengthHuffman
    uint8_t categoryOf[kDifferenceCount];            // index v + 255
    uint32_t runValueCodes[kRunRows][kPairSide];     // 8/24, [run][v + 255]
    uint32_t valueCodes[kDifferenceCount];           // 8/24, [v + 255]
    uint8_t valueLengths[kDifferenceCount];          // of valueCodes, [v + 255]
    uint32_t pairCodes[kPairSide * kPairRowStride];  // 6/26, [(a + 255) * 528 + b + 255]
    uint32_t eobCode;                                // 8/24
    CategoryRows categoryRows;
    uint32_t zrlCode;  // 8/24

    uint8_t Category(int v) const { return categoryOf[v - kMinDifference]; }
    uint32_t ValueCode(int v) const { return valueCodes[v - kMinDifference]; }
    uint32_t PairCode(int a, int b) const {
        return pairCodes[(a - kMinDifference) * kPairRowStride + b - kMinDifference];
    }
    uint32_t RunValueCode(int run, int v) const { return runValueCodes[run][v - kMinDifference]; }
};

// Fills every table; the contents are fixed, so building twice gives the same bytes.
void BuildCodeTables(CodeTables* tables);

// The process's tables, built on first use; safe when several threads ask at once.
const CodeTables& GetCodeTables();
