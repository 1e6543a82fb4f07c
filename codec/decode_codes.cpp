#include "codec/decode_codes.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/decode_tables.h"
#include "codec/huffman.h"

namespace {

// Four lookups of at most 12 bits each fit the 57 bits one PeekBits delivers.
constexpr int kValuesPerPeek = 4;
constexpr int kGroupsPerPeek = 4;
constexpr int kZeroRun = 16;  // zeros that ZRL stands for
constexpr int kMaxRunLengthCategory = 8;

// Groups of up to three values a lookup, stored four bytes at a time: only while the values
// left leave room for that.
bool GroupsFit(const ValueCodeRun& run) {
    return run.count - run.done >= kGroupsPerPeek * kMaxGroupValues + 1 &&
           run.position <= run.endBit;
}

// One PeekBits worth of groups; false on a bit pattern that begins no code.
inline bool DecodeGroups(const ValueDecodeTable& table, const uint8_t* bytes, ValueCodeRun* run) {
    uint64_t bits = PeekBits(bytes, run->position);
    for (int k = 0; k < kGroupsPerPeek; ++k) {
        uint32_t group = table.group[bits >> (64 - kValueLookupBits)];
        if (group == 0)
            return false;
        const int length = static_cast<int>(group >> 28);
        const int values = static_cast<int>(group >> 24 & 0x0F);
        if constexpr (std::endian::native == std::endian::big)
            group = __builtin_bswap32(group);
        std::memcpy(run->deltas + run->done, &group, sizeof group);
        run->done += values;
        bits <<= length;
        run->position += static_cast<size_t>(length);
    }
    return true;
}

// The values left, one lookup each.
DecodeResult FinishValues(const ValueDecodeTable& table, const uint8_t* bytes, ValueCodeRun* run) {
    while (run->done < run->count) {
        if (run->position > run->endBit)
            return DECODE_BAD_SEGMENT;
        uint64_t bits = PeekBits(bytes, run->position);
        const int group = std::min(kValuesPerPeek, run->count - run->done);
        for (int k = 0; k < group; ++k) {
            const uint16_t entry = table.entry[bits >> (64 - kValueLookupBits)];
            if (entry == 0)
                return DECODE_BAD_CODE;
            const int length = entry >> 8;
            bits <<= length;
            run->position += static_cast<size_t>(length);
            run->deltas[run->done++] = static_cast<uint8_t>(entry);
        }
    }
    return run->position > run->endBit ? DECODE_BAD_SEGMENT : DECODE_OK;
}

}  // namespace

DecodeResult DecodeValueCodes(const uint8_t* bytes, ValueCodeRun* run) {
    const ValueDecodeTable& table = ValueDecoding();
    while (GroupsFit(*run)) {
        if (!DecodeGroups(table, bytes, run))
            return DECODE_BAD_CODE;
    }
    return FinishValues(table, bytes, run);
}

DecodeResult DecodeValueCodes(const uint8_t* bytes, ValueCodeRun* first, ValueCodeRun* second) {
    const ValueDecodeTable& table = ValueDecoding();
    while (GroupsFit(*first) && GroupsFit(*second)) {
        if (!DecodeGroups(table, bytes, first) || !DecodeGroups(table, bytes, second)) {
            return DECODE_BAD_CODE;
        }
    }
    const DecodeResult result = DecodeValueCodes(bytes, first);
    return result != DECODE_OK ? result : DecodeValueCodes(bytes, second);
}

DecodeResult DecodeRunLengthCodes(const uint8_t* bytes, size_t* bit, size_t endBit, int count,
                                  uint8_t* deltas) {
    const uint16_t* lookup = RunLengthDecoding().entry;
    size_t position = *bit;
    int i = 0;
    while (i < count) {
        if (position > endBit)
            return DECODE_BAD_SEGMENT;
        const uint64_t bits = PeekBits(bytes, position);
        const uint16_t entry = lookup[bits >> (64 - kRunLengthLookupBits)];
        if (entry == 0)
            return DECODE_BAD_CODE;
        const int length = entry >> 8;
        const int symbol = entry & 0xFF;
        position += static_cast<size_t>(length);
        if (symbol == EOB) {  // the rest of the segment is zero
            std::fill(deltas + i, deltas + count, 0);
            i = count;
            break;
        }
        if (symbol == ZRL) {
            if (count - i < kZeroRun)
                return DECODE_BAD_SEGMENT;
            std::fill(deltas + i, deltas + i + kZeroRun, 0);
            i += kZeroRun;
            continue;
        }
        const int run = symbol >> 4;
        const int category = symbol & 0x0F;
        if (category == 0 || category > kMaxRunLengthCategory)
            return DECODE_BAD_CODE;
        if (count - i < run + 1)
            return DECODE_BAD_SEGMENT;
        const uint32_t extra = static_cast<uint32_t>((bits << length) >> (64 - category));
        position += static_cast<size_t>(category);
        std::fill(deltas + i, deltas + i + run, 0);
        i += run;
        deltas[i++] = static_cast<uint8_t>(ExtraBitsValue(extra, category));
    }
    if (position > endBit)
        return DECODE_BAD_SEGMENT;
    *bit = position;
    return DECODE_OK;
}
