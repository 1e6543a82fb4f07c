#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/frame_decoder.h"

// Reading prefix codes from a payload whose bytes are in stream order (first bit of the
// stream = bit 7 of byte 0). Positions are bit offsets from the payload start. Every reader
// stops with an error once it passes `endBit`; it may look at most eight bytes beyond
// endBit / 8, which the payload's zero slack covers.

// Zero bytes after every payload, so that PeekBits may load eight bytes at any position
// up to the payload's end.
inline constexpr size_t kStreamSlack = 8;

// The stream's bits from `bit` on, first bit in bit 63; at least 57 of them are valid.
inline uint64_t PeekBits(const uint8_t* bytes, size_t bit) {
    uint64_t word;
    std::memcpy(&word, bytes + (bit >> 3), sizeof word);
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    return word << (bit & 7);
}

// A run of value codes being decoded: `count` differences, stored modulo 256 in
// deltas[0..count), read from bit `position` on and not past `endBit`.
struct ValueCodeRun {
    size_t position;
    size_t endBit;
    int count;
    uint8_t* deltas;
    int done = 0;
};

// Decodes the rest of `run`; on success run->position is the bit after its last code.
DecodeResult DecodeValueCodes(const uint8_t* bytes, ValueCodeRun* run);

// Decodes two independent runs together: their chains of dependent table lookups overlap,
// which nearly halves the time of both. The same result as one after the other.
DecodeResult DecodeValueCodes(const uint8_t* bytes, ValueCodeRun* first, ValueCodeRun* second);

// Zero-run/value codes with ZRL and EOB: `count` differences modulo 256.
DecodeResult DecodeRunLengthCodes(const uint8_t* bytes, size_t* bit, size_t endBit, int count,
                                  uint8_t* deltas);

// Value codes emitted two at a time, as pairs. With an odd count the coder may have
// written the code of one more value (a padding value, or the slot after the last), which
// the segment's length field then covers. Given `run` decoded from bit `start`, checks the
// field with `fieldMatches(bodyBytes)`, first without and then with that one more code;
// sets *bodyBytes to the body length in whole bytes. DECODE_BAD_SEGMENT when neither fits.
template <typename FieldMatches>
DecodeResult MatchPairedBody(const uint8_t* bytes, size_t start, const ValueCodeRun& run,
                             FieldMatches fieldMatches, size_t* bodyBytes) {
    *bodyBytes = (run.position - start + 7) / 8;
    if (fieldMatches(*bodyBytes))
        return DECODE_OK;
    uint8_t stray;
    ValueCodeRun more{run.position, run.endBit, 1, &stray};
    if (run.count % 2 == 0 || DecodeValueCodes(bytes, &more) != DECODE_OK) {
        return DECODE_BAD_SEGMENT;
    }
    *bodyBytes = (more.position - start + 7) / 8;
    return fieldMatches(*bodyBytes) ? DECODE_OK : DECODE_BAD_SEGMENT;
}
