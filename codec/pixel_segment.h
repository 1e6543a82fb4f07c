#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/code_tables.h"
#include "codec/frame_format.h"
#include "codec/pair_tiers.h"
#include "codec/region_walk.h"
#include "codec/stream_writer.h"

// The segments of the segment coder and the blank-region coder: a 16-bit length field, low
// byte first in the stream, then the segment's ValueCodes, or its raw bytes when the codes
// would take more than 192 bytes. A segment starts and ends on a byte, so it is written as
// bytes in stream order; the payload's words are turned round once at the end.

// The most a segment writes at its start: the length field and a coded attempt of every
// slot's longest code, then the writer's reach.
inline constexpr int kSegmentRoom = 2 + kSegmentSlots * kMaxValueCodeBits / 8 + kStreamWriterReach;

// Whether the codes of the differences take more than `limit` bits. Reads only a small
// table, where a coded attempt of noise would miss the cache at nearly every pair.
inline bool CodesExceed(const CodeTables& tables, const uint8_t* values, int channels, int count,
                        unsigned limit) {
    const uint8_t* lengths = tables.valueLengths - kMinDifference;
    unsigned bits = 0;
    int i = 0;
    for (; i < channels && i < count; ++i)
        bits += lengths[values[i] - kSegmentPredictor];
    for (; i + 16 <= count; i += 16) {
        for (int k = i; k < i + 16; ++k)
            bits += lengths[values[k] - values[k - channels]];
        if (bits > limit)
            return true;
    }
    for (; i < count; ++i)
        bits += lengths[values[i] - values[i - channels]];
    return bits > limit;
}

// Puts `zeros` zero pairs, then the code.
inline void PutAfterZeros(StreamWriter& w, unsigned* zeros, unsigned length, uint64_t code) {
    const unsigned zeroBits = 4 * *zeros;
    if (zeroBits + length > kMaxPutBits) {
        w.PutZeros(zeroBits);
        w.Put(length, code);
    } else {
        w.Put(zeroBits + length, code);
    }
    *zeros = 0;
}

// The codes of `count` differences (see SegmentDifference) after a 2-byte gap for the
// length field; returns the end of the last, byte-padded code. A group of eight zero pairs
// costs nothing here: its codes are zero bits, written with the next code or at the end.
template <class Tier>
uint8_t* PutSegmentCodes(uint8_t* at, const CodeTables& t, const uint8_t* values, int channels,
                         int count) {
    const SegmentValues segment(values, channels, count);
    const int pairCount = count / 2;
    const uint32_t* codes = PairCodeOrigin(t);
    StreamWriter w{at + 2};
    uint64_t nonzero[kMaxSegmentPairs / 64] = {};
    uint64_t any = 0;
    for (int word = 0; word * 64 < pairCount; ++word) {
        nonzero[word] = Tier::NonzeroPairs(segment, 64 * word, pairCount);
        any |= word == 0 ? nonzero[word] & ~uint64_t{3} : nonzero[word];
    }
    unsigned zeros = 0;  // zero pairs not yet written
    int next = 0;        // the first pair neither written nor counted in `zeros`
    const bool flat = any == 0 && pairCount >= 2;
    if (flat) {
        // A flat segment, every pixel like the first: the first pixel's pairs, then zeros.
        const uint32_t first = codes[PairIndex(values, channels, 0)];
        const uint32_t second = codes[PairIndex(values, channels, 1)];
        w.Put(CodeLength626(first) + CodeLength626(second),
              uint64_t{CodeBits626(first)} << CodeLength626(second) | CodeBits626(second));
        next = 2;
    }
    // The codes of every group with a nonzero pair first, then the writes: the lookups of
    // all groups are under way together instead of each waiting for the writes before it.
    constexpr int kMaxGroups = kMaxSegmentPairs / kGroupPairs;
    GroupCodes groupCodes[kMaxGroups];
    int groupStart[kMaxGroups];
    int groups = 0;
    int tail = pairCount;  // the pairs of a last group short of eight, if it has nonzero ones
    for (int word = 0; !flat && word * 64 < pairCount; ++word) {
        for (uint64_t mask = nonzero[word]; mask != 0;) {
            const int offset = __builtin_ctzll(mask) & -kGroupPairs;
            mask &= ~(uint64_t{0xFF} << offset);
            const int group = 64 * word + offset;
            if (pairCount - group < kGroupPairs) {
                tail = group;
                continue;
            }
            groupStart[groups] = group;
            Tier::CodeGroup(segment, group / kGroupPairs, t, &groupCodes[groups++]);
        }
    }
    for (int i = 0; i < groups; ++i) {
        const GroupCodes& g = groupCodes[i];
        zeros += static_cast<unsigned>(groupStart[i] - next);
        next = groupStart[i] + kGroupPairs;
        PutAfterZeros(w, &zeros, static_cast<unsigned>(g.length[0]), g.code[0]);
        for (int q = 1; q < kGroupPairs / 2; ++q)
            w.Put(static_cast<unsigned>(g.length[q]), g.code[q]);
    }
    if (tail < pairCount) {
        zeros += static_cast<unsigned>(tail - next);
        for (int k = tail; k < pairCount; ++k) {
            const uint32_t code = codes[PairIndex(values, channels, k)];
            PutAfterZeros(w, &zeros, CodeLength626(code), CodeBits626(code));
        }
        next = pairCount;
    }
    zeros += static_cast<unsigned>(pairCount - next);
    if (zeros > 0)
        w.PutZeros(4 * zeros);
    if (count % 2 != 0) {
        const uint32_t code = t.ValueCode(SegmentDifference(values, channels, count - 1));
        w.Put(CodeLength824(code), CodeBits824(code));
    }
    return w.AlignToByte();
}

// One segment at `at` of `codedValues` values, `channels` a pixel: their differences coded,
// or, when the codes exceed 192 bytes, the first `rawValues` values as they are. Reads the
// values up to the larger of the two counts. `expectRaw` (the segment before was raw) only
// changes how soon a raw segment is found out. Returns the end of the segment; writes up
// to kSegmentRoom bytes from `at`.
template <class Tier>
uint8_t* PutPixelSegment(uint8_t* at, const CodeTables& t, const uint8_t* values, int channels,
                         int codedValues, int rawValues, bool expectRaw, bool* raw) {
    constexpr unsigned kLimit = kMaxCodedSegmentBody * 8;
    *raw = expectRaw && CodesExceed(t, values, channels, codedValues, kLimit);
    if (!*raw) {
        uint8_t* end = PutSegmentCodes<Tier>(at, t, values, channels, codedValues);
        const size_t body = static_cast<size_t>(end - at) - 2;
        *raw = body > kMaxCodedSegmentBody;
        if (!*raw) {
            at[0] = static_cast<uint8_t>(body);
            at[1] = static_cast<uint8_t>(body >> 8);
            return end;
        }
    }
    // The raw segment overwrites the abandoned attempt.
    const unsigned field = kRawSegmentFlag | static_cast<unsigned>(rawValues);
    at[0] = static_cast<uint8_t>(field);
    at[1] = static_cast<uint8_t>(field >> 8);
    std::memcpy(at + 2, values, static_cast<size_t>(rawValues));
    return at + 2 + rawValues;
}

// PutPixelSegment at `at`, through a buffer of its own when less than kSegmentRoom bytes
// are left before `limit`, the end of the caller's output.
template <class Tier>
uint8_t* PutPixelSegmentBefore(const uint8_t* limit, uint8_t* at, const CodeTables& t,
                               const uint8_t* values, int channels, int codedValues, int rawValues,
                               bool expectRaw, bool* raw) {
    if (limit - at >= kSegmentRoom) {
        return PutPixelSegment<Tier>(at, t, values, channels, codedValues, rawValues, expectRaw,
                                     raw);
    }
    uint8_t room[kSegmentRoom];
    const uint8_t* end =
        PutPixelSegment<Tier>(room, t, values, channels, codedValues, rawValues, expectRaw, raw);
    std::memcpy(at, room, static_cast<size_t>(end - room));
    return at + (end - room);
}

// Ends a payload of segments that runs from `payload` to `end`: zero bytes up to a whole
// word, then, with FLAG_WORD_WRITER, every word least significant byte first. Returns the
// payload's size without the padding.
template <class Tier>
size_t CloseSegmentPayload(uint8_t* payload, uint8_t* end, uint8_t flags) {
    const size_t size = static_cast<size_t>(end - payload);
    const size_t words = (size + 3) / 4;
    std::memset(end, 0, 4 * words - size);
    if ((flags & FLAG_WORD_WRITER) != 0)
        Tier::SwapWords(payload, words);
    return size;
}
