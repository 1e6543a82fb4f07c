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

// Value codes: `count` differences, stored modulo 256 in deltas[0..count).
DecodeResult DecodeValueCodes(const uint8_t* bytes, size_t* bit, size_t endBit, int count,
                              uint8_t* deltas);

// Zero-run/value codes with ZRL and EOB: `count` differences modulo 256.
DecodeResult DecodeRunLengthCodes(const uint8_t* bytes, size_t* bit, size_t endBit, int count,
                                  uint8_t* deltas);

// Value codes emitted two at a time, as pairs. With an odd `count` the coder may have
// written the code of one more value (a padding value, or the slot after the last), which
// the segment's length field then covers. Decodes `count` codes from bit `start` and checks
// the field with `fieldMatches(bodyBytes)`, first without and then with that one more code;
// sets *bodyBytes to the body length in whole bytes. DECODE_BAD_SEGMENT when neither fits.
template <typename FieldMatches>
DecodeResult DecodePairedValueCodes(const uint8_t* bytes, size_t start, size_t endBit, int count,
                                    uint8_t* deltas, FieldMatches fieldMatches, size_t* bodyBytes) {
    size_t bit = start;
    const DecodeResult result = DecodeValueCodes(bytes, &bit, endBit, count, deltas);
    if (result != DECODE_OK)
        return result;
    *bodyBytes = (bit - start + 7) / 8;
    if (fieldMatches(*bodyBytes))
        return DECODE_OK;
    uint8_t stray;
    if (count % 2 == 0 || DecodeValueCodes(bytes, &bit, endBit, 1, &stray) != DECODE_OK) {
        return DECODE_BAD_SEGMENT;
    }
    *bodyBytes = (bit - start + 7) / 8;
    return fieldMatches(*bodyBytes) ? DECODE_OK : DECODE_BAD_SEGMENT;
}
