#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "codec/code_tables.h"
#include "codec/frame_format.h"
#include "codec/region_walk.h"

// The steps of the segment coder that run on many bytes at once, one tier per instruction
// set: finding the pairs of differences that are not zero, coding a group of eight pairs,
// and turning the payload's words round. The baseline tier needs SSE2 (every x86-64
// processor has it); the others are compiled for their instructions and chosen at run time
// (segment_kernels.h).

#if defined(__GNUC__)
#define KV_TARGET(isa) __attribute__((target(isa)))
#else
#define KV_TARGET(isa)
#endif
#define KV_TARGET_SSE41 KV_TARGET("sse4.1")
#define KV_TARGET_AVX2 KV_TARGET("avx2,bmi,bmi2")

inline constexpr int kMaxSegmentPairs = kSegmentSlots / 2;

// The PairCodes entry of a pair is at PairCodeOrigin(t)[a * kPairRowStride + b].
inline const uint32_t* PairCodeOrigin(const CodeTables& t) {
    return t.pairCodes - kMinDifference * (kPairRowStride + 1);
}

// values[i] minus its predictor: the value `channels` before it, 128 for the first pixel.
inline int SegmentDifference(const uint8_t* values, int channels, int i) {
    return values[i] - (i < channels ? kSegmentPredictor : values[i - channels]);
}

// Pair k is the differences of values 2k and 2k + 1.
inline int32_t PairIndex(const uint8_t* values, int channels, int k) {
    return SegmentDifference(values, channels, 2 * k) * kPairRowStride +
           SegmentDifference(values, channels, 2 * k + 1);
}

// Pairs are looked at in groups of eight, sixteen values.
inline constexpr int kGroupPairs = 8;
inline constexpr int kGroupValues = 2 * kGroupPairs;
inline constexpr int kHeadValues = 2 * kGroupValues;

// A segment's values. The first ones are copied behind the first pixel's predictors, so
// that every group reads its predictors `channels` bytes back from its values.
struct SegmentValues {
    const uint8_t* values;
    int channels;
    uint8_t head[kMaxChannels + kHeadValues];

    // `n` values.
    SegmentValues(const uint8_t* v, int c, int n) : values(v), channels(c) {
        std::memset(head, kSegmentPredictor, kMaxChannels);
        if (n >= kHeadValues)
            std::memcpy(head + kMaxChannels, v, kHeadValues);  // one move, not a call
        else
            std::memcpy(head + kMaxChannels, v, static_cast<size_t>(n));
    }

    // Values 16 * group on, their predictors readable before them.
    const uint8_t* Group(int group) const {
        return group < kHeadValues / kGroupValues ? head + kMaxChannels + kGroupValues * group
                                                  : values + kGroupValues * group;
    }
};

// Bit k - `first`: pair k, from `first` to `end` - 1, is not (0, 0).
inline uint64_t NonzeroPairsOneByOne(const SegmentValues& s, int first, int from, int end) {
    uint64_t mask = 0;
    for (int k = from; k < end; ++k) {
        const bool zero = SegmentDifference(s.values, s.channels, 2 * k) == 0 &&
                          SegmentDifference(s.values, s.channels, 2 * k + 1) == 0;
        mask |= uint64_t{!zero} << (k - first);
    }
    return mask;
}

// The codes of a group's eight pairs, two pairs to each: at most 48 bits.
struct GroupCodes {
    uint64_t code[kGroupPairs / 2];
    uint64_t length[kGroupPairs / 2];
};

struct BaseTier {
    // Bit k: pair `first` + k is not (0, 0), for the up to 64 pairs from `first` (a
    // multiple of 64) that are below `pairs`.
    static uint64_t NonzeroPairs(const SegmentValues& s, int first, int pairs) {
        return NonzeroPairsFrom(s, first, first, std::min(first + 64, pairs));
    }

    // The same from pair `from`, a multiple of 8, on.
    static uint64_t NonzeroPairsFrom(const SegmentValues& s, int first, int from, int end) {
        uint64_t mask = 0;
        int k = from;
#if defined(__SSE2__)
        for (; k + 2 * kGroupPairs <= end; k += 2 * kGroupPairs) {
            const __m128i same = _mm_packs_epi16(Same(s.Group(k / kGroupPairs), s.channels),
                                                 Same(s.values + 2 * k + 16, s.channels));
            const unsigned bits = ~_mm_movemask_epi8(same) & 0xFFFFu;
            mask |= uint64_t{bits} << (k - first);
        }
        for (; k + kGroupPairs <= end; k += kGroupPairs) {
            const __m128i same = Same(s.Group(k / kGroupPairs), s.channels);
            const unsigned bits = ~_mm_movemask_epi8(_mm_packs_epi16(same, same)) & 0xFFu;
            mask |= uint64_t{bits} << (k - first);
        }
#endif
        return mask | NonzeroPairsOneByOne(s, first, k, end);
    }

    // The codes of a whole group, two pairs to each.
    static void CodeGroup(const SegmentValues& s, int group, const CodeTables& t, GroupCodes* out) {
        const uint8_t* values = s.Group(group);
#if defined(__SSE2__)
        const __m128i c = Load(values);
        const __m128i p = Load(values - s.channels);
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(p, zero));
        const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(p, zero));
        CodePairsOfPairs(PairIndices(low), t, out->code, out->length);
        CodePairsOfPairs(PairIndices(high), t, out->code + 2, out->length + 2);
#else
        int32_t index[kGroupPairs];
        for (int k = 0; k < kGroupPairs; ++k)
            index[k] = (values[2 * k] - values[2 * k - s.channels]) * kPairRowStride +
                       values[2 * k + 1] - values[2 * k + 1 - s.channels];
        for (int q = 0; q < kGroupPairs / 2; ++q)
            CodePairOfPairs(index[2 * q], index[2 * q + 1], t, out->code + q, out->length + q);
#endif
    }

    // The code of the pairs PairCodes `first` and `second` name, one after the other.
    static void CodePairOfPairs(int32_t first, int32_t second, const CodeTables& t, uint64_t* code,
                                uint64_t* length) {
        const uint32_t* codes = PairCodeOrigin(t);
        const uint32_t a = codes[first];
        const uint32_t b = codes[second];
        *length = CodeLength626(a) + CodeLength626(b);
        *code = uint64_t{CodeBits626(a)} << CodeLength626(b) | CodeBits626(b);
    }

#if defined(__SSE2__)
    // The PairCodes indices of four pairs of 16-bit differences.
    static __m128i PairIndices(__m128i differences) {
        return _mm_madd_epi16(differences, _mm_set1_epi32(1 << 16 | kPairRowStride));
    }

    // Two codes from four indices, taken out of the register two at a time: stored and
    // loaded again one by one, they would wait for the store.
    static void CodePairsOfPairs(__m128i index, const CodeTables& t, uint64_t* code,
                                 uint64_t* length) {
        const auto low = static_cast<uint64_t>(_mm_cvtsi128_si64(index));
        const auto high =
            static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(index, index)));
        CodePairOfPairs(static_cast<int32_t>(low), static_cast<int32_t>(low >> 32), t, code,
                        length);
        CodePairOfPairs(static_cast<int32_t>(high), static_cast<int32_t>(high >> 32), t, code + 1,
                        length + 1);
    }
#endif

    // Stores each of `words` 32-bit words the other way round.
    static void SwapWords(uint8_t* bytes, size_t words) {
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= words; i += 4) {
            __m128i x = Load(bytes + 4 * i);
            x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
            x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 4 * i), x);
        }
#endif
        SwapWordsOneByOne(bytes + 4 * i, words - i);
    }

    static void SwapWordsOneByOne(uint8_t* bytes, size_t words) {
        for (size_t i = 0; i < words; ++i) {
            uint32_t word;
            std::memcpy(&word, bytes + 4 * i, 4);
            word = __builtin_bswap32(word);
            std::memcpy(bytes + 4 * i, &word, 4);
        }
    }

#if defined(__SSE2__)
    static __m128i Load(const uint8_t* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    }

    // Lanes of 0xFFFF where a pair of the 16 values at `values` equals the pair `channels`
    // bytes before it.
    static __m128i Same(const uint8_t* values, int channels) {
        return _mm_cmpeq_epi16(Load(values), Load(values - channels));
    }
#endif
};

#if defined(__SSE2__)

// Bytes widened as they are loaded, and words turned round by SSSE3's byte shuffle.
struct Sse41Tier : BaseTier {
    KV_TARGET_SSE41 static void CodeGroup(const SegmentValues& s, int group, const CodeTables& t,
                                          GroupCodes* out) {
        const uint8_t* values = s.Group(group);
        for (int half = 0; half < 2; ++half) {
            const uint8_t* at = values + 8 * half;
            const __m128i c =
                _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)));
            const __m128i p = _mm_cvtepu8_epi16(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at - s.channels)));
            CodePairsOfPairs(PairIndices(_mm_sub_epi16(c, p)), t, out->code + 2 * half,
                             out->length + 2 * half);
        }
    }

    KV_TARGET_SSE41 static void SwapWords(uint8_t* bytes, size_t words) {
        const __m128i order = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        size_t i = 0;
        for (; i + 4 <= words; i += 4) {
            __m128i* at = reinterpret_cast<__m128i*>(bytes + 4 * i);
            _mm_storeu_si128(at, _mm_shuffle_epi8(_mm_loadu_si128(at), order));
        }
        SwapWordsOneByOne(bytes + 4 * i, words - i);
    }
};

// Two groups, or eight words, at a time.
struct Avx2Tier : Sse41Tier {
    KV_TARGET_AVX2 static uint64_t NonzeroPairs(const SegmentValues& s, int first, int pairs) {
        const int end = std::min(first + 64, pairs);
        uint64_t mask = 0;
        int k = first;
        for (; k + 4 * kGroupPairs <= end; k += 4 * kGroupPairs) {
            // Values 2k to 2k + 63; a segment's first 32 come from its head.
            const uint8_t* low = k == 0 ? s.head + kMaxChannels : s.values + 2 * k;
            const __m256i same =
                _mm256_packs_epi16(Same(low, s.channels), Same(s.values + 2 * k + 32, s.channels));
            // The pack interleaves the halves' lanes; the permute puts them in order.
            const __m256i ordered = _mm256_permute4x64_epi64(same, 0xD8);
            const uint32_t bits = ~static_cast<uint32_t>(_mm256_movemask_epi8(ordered));
            mask |= uint64_t{bits} << (k - first);
        }
        return mask | NonzeroPairsFrom(s, first, k, end);
    }

    // Lanes of 0xFFFF where the pair of values equals the pair `channels` bytes before it,
    // for the 32 values at `values`.
    KV_TARGET_AVX2 static __m256i Same(const uint8_t* values, int channels) {
        return _mm256_cmpeq_epi16(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values - channels)));
    }

    // The sixteen codes worked out side by side, from the category rows instead of
    // PairCodes, whose megabyte the other work between two frames pushes out of the cache.
    KV_TARGET_AVX2 static void CodeGroup(const SegmentValues& s, int group, const CodeTables& t,
                                         GroupCodes* out) {
        const uint8_t* values = s.Group(group);
        const __m256i c =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)));
        const __m256i p = _mm256_cvtepu8_epi16(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(values - s.channels)));
        const __m256i v = _mm256_sub_epi16(c, p);  // -255 to 255
        // +-128, 127 and -127 escape to the ValueCodes of their own.
        const __m256i is128 = _mm256_or_si256(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(128)),
                                              _mm256_cmpeq_epi16(v, _mm256_set1_epi16(-128)));
        const __m256i is127 = _mm256_cmpeq_epi16(v, _mm256_set1_epi16(127));
        const __m256i isMinus127 = _mm256_cmpeq_epi16(v, _mm256_set1_epi16(-127));
        const __m256i escape = _mm256_or_si256(is128, _mm256_or_si256(is127, isMinus127));
        const __m256i escapeCode = _mm256_or_si256(
            _mm256_and_si256(is128, _mm256_set1_epi16(CodeBits(t, 128))),
            _mm256_or_si256(_mm256_and_si256(is127, _mm256_set1_epi16(CodeBits(t, 127))),
                            _mm256_and_si256(isMinus127, _mm256_set1_epi16(CodeBits(t, -127)))));
        // Every other v taken modulo 256 into -127..127, and its category: the bits of |w|,
        // looked up nibble by nibble. A shuffle index with its top bit set gives 0, which
        // keeps each lane's high byte clear.
        const __m256i w = _mm256_srai_epi16(_mm256_slli_epi16(v, 8), 8);
        const __m256i magnitude = _mm256_abs_epi16(w);
        const __m256i clearHigh = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
        const CategoryRows& rows = t.categoryRows;
        const __m256i category = _mm256_max_epi16(
            _mm256_shuffle_epi8(Row(rows.bitsOfHighNibble),
                                _mm256_or_si256(_mm256_srli_epi16(magnitude, 4), clearHigh)),
            _mm256_shuffle_epi8(
                Row(rows.bitsOfLowNibble),
                _mm256_or_si256(_mm256_and_si256(magnitude, _mm256_set1_epi16(15)), clearHigh)));
        const __m256i index = _mm256_or_si256(category, clearHigh);
        const __m256i prefix =
            _mm256_or_si256(_mm256_shuffle_epi8(Row(rows.codeLow), index),
                            _mm256_slli_epi16(_mm256_shuffle_epi8(Row(rows.codeHigh), index), 8));
        // Extra bits: w, or w - 1 when negative, cut to the category's width.
        const __m256i extra = _mm256_and_si256(_mm256_add_epi16(w, _mm256_srai_epi16(w, 15)),
                                               _mm256_shuffle_epi8(Row(rows.extraMask), index));
        const __m256i code = _mm256_blendv_epi8(_mm256_or_si256(prefix, extra), escapeCode, escape);
        const __m256i length = _mm256_blendv_epi8(
            _mm256_shuffle_epi8(Row(rows.length), index),
            _mm256_set1_epi16(static_cast<int16_t>(CodeLength824(t.ValueCode(128)))), escape);
        // Pairs in 32-bit lanes: the first code times 2 to the second's length, plus the second.
        const __m256i secondLength = _mm256_srli_epi32(length, 16);
        const __m256i weights = _mm256_or_si256(
            _mm256_sllv_epi32(_mm256_set1_epi32(1), secondLength), _mm256_set1_epi32(1 << 16));
        const __m256i pair = _mm256_madd_epi16(code, weights);
        const __m256i pairLength = _mm256_madd_epi16(length, _mm256_set1_epi16(1));
        // Pairs of pairs in 64-bit lanes, the same way.
        const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
        const __m256i secondPairLength = _mm256_srli_epi64(pairLength, 32);
        const __m256i joined =
            _mm256_or_si256(_mm256_sllv_epi64(_mm256_and_si256(pair, low32), secondPairLength),
                            _mm256_srli_epi64(pair, 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out->code), joined);
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out->length),
            _mm256_add_epi64(_mm256_and_si256(pairLength, low32), secondPairLength));
    }

    KV_TARGET_AVX2 static __m256i Row(const uint8_t row[16]) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
    }

    static int16_t CodeBits(const CodeTables& t, int v) {
        return static_cast<int16_t>(CodeBits824(t.ValueCode(v)));
    }

    KV_TARGET_AVX2 static void SwapWords(uint8_t* bytes, size_t words) {
        const __m256i order =
            _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                             5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        size_t i = 0;
        for (; i + 8 <= words; i += 8) {
            __m256i* at = reinterpret_cast<__m256i*>(bytes + 4 * i);
            _mm256_storeu_si256(at, _mm256_shuffle_epi8(_mm256_loadu_si256(at), order));
        }
        Sse41Tier::SwapWords(bytes + 4 * i, words - i);
    }
};

#endif
