#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/bit_writer.h"
#include "codec/code_tables.h"
#include "codec/region_walk.h"

// The segments of the segment coder and the blank-region coder: a 16-bit length field, low
// byte first in the stream, then the segment's ValueCodes, or its raw bytes when the codes
// would take more than 192 bytes.

inline constexpr int kPairBlock = 16;  // values whose pair indices are formed together

// The pair indices a * kPairRowStride + b of the 8 pairs of differences cur[i] - prev[i], i
// below 16. False, with nothing stored, when all 16 differences are zero.
inline bool PairIndices16(const uint8_t* cur, const uint8_t* prev, int32_t index[8]) {
#if defined(__SSE2__)
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur));
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(c, p)) == 0xFFFF)
        return false;
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights = _mm_set1_epi32(1 << 16 | kPairRowStride);  // a * stride + b
    const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(p, zero));
    const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(p, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), _mm_madd_epi16(low, weights));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index + 4), _mm_madd_epi16(high, weights));
#else
    if (std::memcmp(cur, prev, kPairBlock) == 0)
        return false;
    for (int k = 0; k < kPairBlock / 2; ++k) {
        index[k] = (cur[2 * k] - prev[2 * k]) * kPairRowStride + cur[2 * k + 1] - prev[2 * k + 1];
    }
#endif
    return true;
}

// Emits the ValueCodes of the differences of `count` values through PairCodes, one lookup
// per two values. Stops, returning false, once the stream passes bit `limit`.
template <ByteOrder kOrder>
bool PutDifferenceCodes(BitWriter<kOrder>& writer, const CodeTables& tables, const uint8_t* values,
                        int channels, int count, size_t limit) {
    // A local copy keeps the writer in registers: its stores cannot alias it.
    BitWriter<kOrder> w = writer;
    // PairCode(a, b) is pairs[a * kPairRowStride + b].
    const uint32_t* pairs = tables.pairCodes - kMinDifference * (kPairRowStride + 1);
    auto pairCode = [&](int i) {
        auto difference = [&](int k) {
            return values[k] - (k < channels ? kSegmentPredictor : values[k - channels]);
        };
        return pairs[difference(i) * kPairRowStride +
                     (i + 1 < count ? difference(i + 1) : kNoValue)];
    };
    int i = 0;
    // A flat segment, every pixel equal to the first: the first pixel's codes, then zeros.
    if (count > channels &&
        std::memcmp(values + channels, values, static_cast<size_t>(count - channels)) == 0) {
        for (; i < channels; i += 2) {
            const uint32_t code = pairCode(i);
            w.Put(CodeLength626(code), CodeBits626(code));
        }
        int zeroBits = 2 * (count - i);
        for (; zeroBits >= 32; zeroBits -= 32)
            w.PutSpeculative(32, 0);
        w.Put(static_cast<unsigned>(zeroBits), 0);
        writer = w;
        return w.BitPosition() <= limit;
    }
    // The first block takes its first pixel's predictors from a copy.
    uint8_t head[kMaxChannels + kPairBlock];
    std::memset(head, kSegmentPredictor, kMaxChannels);
    std::memcpy(head + kMaxChannels, values, static_cast<size_t>(std::min(count, kPairBlock)));
    bool fits = true;
    for (; i + kPairBlock <= count; i += kPairBlock) {
        const uint8_t* cur = i == 0 ? head + kMaxChannels : values + i;
        int32_t index[kPairBlock / 2];
        if (!PairIndices16(cur, cur - channels, index)) {
            w.PutSpeculative(32, 0);  // sixteen zero codes
            continue;
        }
        // Unrolled, so that the indices stay in registers.
#pragma GCC unroll 8
        for (int k = 0; k < kPairBlock / 2; ++k) {
            const uint32_t code = pairs[index[k]];
            w.PutSpeculative(CodeLength626(code), CodeBits626(code));
        }
        if (w.BitPosition() > limit) {
            fits = false;
            break;
        }
    }
    if (fits) {
        for (; i < count; i += 2) {
            const uint32_t code = pairCode(i);
            w.Put(CodeLength626(code), CodeBits626(code));
        }
        fits = w.BitPosition() <= limit;
    }
    writer = w;
    return fits;
}

// Whether the codes of the differences take more than `limit` bits. Reads only a small
// table, where a coded attempt of noise would miss the cache at nearly every pair.
inline bool CodesExceed(const CodeTables& tables, const uint8_t* values, int channels, int count,
                        unsigned limit) {
    const uint8_t* lengths = tables.valueLengths - kMinDifference;
    unsigned bits = 0;
    int i = 0;
    for (; i < channels && i < count; ++i)
        bits += lengths[values[i] - 128];
    for (; i + kPairBlock <= count; i += kPairBlock) {
        for (int k = i; k < i + kPairBlock; ++k)
            bits += lengths[values[k] - values[k - channels]];
        if (bits > limit)
            return true;
    }
    for (; i < count; ++i)
        bits += lengths[values[i] - values[i - channels]];
    return bits > limit;
}

// One segment of `codedValues` values, `channels` a pixel: the predictor of values[i] is
// values[i - channels], and 128 for the first pixel. Codes their differences, or, when the
// codes exceed 192 bytes, stores the first `rawValues` values as they are. `expectRaw` (the
// segment before was raw) only changes how soon that is found out. Returns whether the
// segment was stored raw. Reads the values up to the larger of the two counts.
template <ByteOrder kOrder>
bool PutPixelSegment(BitWriter<kOrder>& w, const CodeTables& tables, const uint8_t* values,
                     int channels, int codedValues, int rawValues, bool expectRaw) {
    const auto start = w.Save();
    const size_t field = w.BytePosition();
    constexpr unsigned kLimit = kMaxCodedSegmentBody * 8;
    if (!expectRaw || !CodesExceed(tables, values, channels, codedValues, kLimit)) {
        w.Put(16, 0);
        if (PutDifferenceCodes(w, tables, values, channels, codedValues,
                               w.BitPosition() + kLimit)) {
            w.AlignToByte();
            const size_t body = w.BytePosition() - field - 2;
            w.SetByte(field, static_cast<uint8_t>(body));
            w.SetByte(field + 1, static_cast<uint8_t>(body >> 8));
            return false;
        }
        // The raw segment overwrites the abandoned attempt from the same bit position.
        w.Restore(start);
    }
    const unsigned rawField = kRawSegmentFlag | static_cast<unsigned>(rawValues);
    w.Put(8, rawField & 0xFF);
    w.Put(8, rawField >> 8);
    w.PutBytes(values, static_cast<size_t>(rawValues));
    return true;
}
