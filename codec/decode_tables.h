#pragma once

#include <cstdint>

// Lookup tables that turn the next bits of a stream into one decoded code. Built once from
// the code definitions of codec/huffman.h, on first use, safely from any thread.

// A value code (category code plus extra bits) is at most 12 bits long, so the next 12
// bits of the stream find it.
//   entry: code length in bits 8 to 15, the value modulo 256 in bits 0 to 7.
//   group: every code that lies whole in the 12 bits, up to three (the common small
//          differences are 2 to 5 bits long): values modulo 256 in bits 0 to 7, 8 to 15
//          and 16 to 23, their number in bits 24 to 27, their total length in 28 to 31.
// Both are 0 where the bits begin no code.
inline constexpr int kValueLookupBits = 12;
inline constexpr int kMaxGroupValues = 3;
struct ValueDecodeTable {
    uint16_t entry[1 << kValueLookupBits];
    uint32_t group[1 << kValueLookupBits];
};
const ValueDecodeTable& ValueDecoding();

// A run-length symbol code is at most 16 bits long. Entry: code length in bits 8 to 15,
// the symbol (run in the high nibble, category in the low) in bits 0 to 7; 0 where the
// bits begin no code. The category's extra bits follow the code.
inline constexpr int kRunLengthLookupBits = 16;
struct RunLengthDecodeTable {
    uint16_t entry[1 << kRunLengthLookupBits];
};
const RunLengthDecodeTable& RunLengthDecoding();

// The value that `bits` extra bits `extra` give in category `bits` (the one's-complement
// convention for negatives: a clear top bit means a negative value).
inline int ExtraBitsValue(uint32_t extra, int bits) {
    if (bits == 0)
        return 0;
    if (extra >> (bits - 1))
        return static_cast<int>(extra);
    return static_cast<int>(extra) - ((1 << bits) - 1);
}
