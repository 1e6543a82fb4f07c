#pragma once

#include <cstdint>

// The two prefix-code definitions of the codec, each given as in JPEG by how many codes
// have each length from 1 to 16 and the symbols in code order: the code lengths fix the
// canonical codes.

struct CodeLengthDefinition {
    uint8_t counts[16];  // codes of length 1, 2, ... 16
    const uint8_t* symbols;
    int symbolCount;
};

extern const CodeLengthDefinition CategoryHuffman;   // magnitude categories 0 to 8
extern const CodeLengthDefinition RunLengthHuffman;  // luminance AC table of ITU-T T.81, Table K.5

inline constexpr uint8_t EOB = 0x00;  // end of block
inline constexpr uint8_t ZRL = 0xF0;  // sixteen zeros

// Canonical codes of one definition; symbols it does not list have length 0.
struct HuffmanTable {
    uint16_t code[256];
    uint8_t length[256];
    uint8_t counts[16];
    uint8_t symbols[256];
};

void BuildHuffmanTable(const uint8_t countList[16], const uint8_t* symbolList, HuffmanTable* table);
