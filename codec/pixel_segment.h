#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/bit_writer.h"
#include "codec/code_tables.h"

// The segments of the segment coder and the blank-region coder: a 16-bit length field, low
// byte first in the stream, then the segment's ValueCodes, or its raw bytes when the codes
// would take more than 192 bytes.

inline constexpr size_t kMaxCodedSegmentBody = 192;
inline constexpr unsigned kRawSegmentFlag = 0x8000;

// Emits the ValueCodes of the differences bytes[channels + i] - bytes[i], i below `count`,
// through PairCodes. Stops, returning false, once the stream passes bit `limit`.
template <ByteOrder kOrder>
bool PutDifferenceCodes(BitWriter<kOrder>& writer, const CodeTables& tables, const uint8_t* bytes,
                        int channels, int count, size_t limit) {
    // A local copy keeps the writer in registers: its stores cannot alias it.
    BitWriter<kOrder> w = writer;
    const uint8_t* prev = bytes;
    const uint8_t* cur = bytes + channels;
    // PairCode(a, b) is pairs[a * 512 + b].
    const uint32_t* pairs = tables.pairCodes - kMinDifference * (kPairSide + 1);
    auto putPair = [&](int i) {
        const uint32_t code = pairs[(cur[i] - prev[i]) * kPairSide + (cur[i + 1] - prev[i + 1])];
        w.Put(CodeLength626(code), CodeBits626(code));
    };
    constexpr int kBlock = 16;  // sixteen zero differences are 32 zero bits
    int i = 0;
    bool fits = true;
    for (; i + kBlock <= count; i += kBlock) {
        if (std::memcmp(cur + i, prev + i, kBlock) == 0) {
            w.Put(32, 0);
            continue;
        }
        for (int j = i; j < i + kBlock; j += 2)
            putPair(j);
        if (w.BitPosition() > limit) {
            fits = false;
            break;
        }
    }
    if (fits) {
        for (; i + 1 < count; i += 2)
            putPair(i);
        if (i < count) {
            const uint32_t code = tables.ValueCode(cur[i] - prev[i]);
            w.Put(CodeLength824(code), CodeBits824(code));
        }
        fits = w.BitPosition() <= limit;
    }
    writer = w;
    return fits;
}

// One segment: `codedValues` differences of `bytes` (see PutDifferenceCodes), or, when
// their codes exceed 192 bytes, the `rawValues` bytes from bytes + channels as they are.
template <ByteOrder kOrder>
void PutPixelSegment(BitWriter<kOrder>& w, const CodeTables& tables, const uint8_t* bytes,
                     int channels, int codedValues, int rawValues) {
    const auto start = w.Save();
    const size_t field = w.BytePosition();
    w.Put(16, 0);
    if (PutDifferenceCodes(w, tables, bytes, channels, codedValues,
                           w.BitPosition() + kMaxCodedSegmentBody * 8)) {
        w.AlignToByte();
        const size_t body = w.BytePosition() - field - 2;
        w.SetByte(field, static_cast<uint8_t>(body));
        w.SetByte(field + 1, static_cast<uint8_t>(body >> 8));
        return;
    }
    // The raw segment overwrites the abandoned attempt from the same bit position.
    w.Restore(start);
    const unsigned rawField = kRawSegmentFlag | static_cast<unsigned>(rawValues);
    w.Put(8, rawField & 0xFF);
    w.Put(8, rawField >> 8);
    w.PutBytes(bytes + channels, static_cast<size_t>(rawValues));
}
