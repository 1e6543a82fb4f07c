#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/frame_format.h"

// Decodes what EncodeFrame writes. Malformed or truncated input gives an error result;
// the decoder never reads past `length` bytes of the unit or writes past its output.
// Safe to call from several threads at once (the decoding tables are built once, under
// the language's guarantee for function-local statics).

enum DecodeResult : int {
    DECODE_OK = 0,
    DECODE_TRUNCATED,         // the unit ends before its header or payload does
    DECODE_BAD_MARKER,        // byte 0 is not 0xFB
    DECODE_BAD_CHECKSUM,      // the 20 header bytes do not sum to 0 modulo 256
    DECODE_BAD_HEADER_SIZE,   // header size below 20
    DECODE_UNSUPPORTED,       // a type, depth or flag combination the decoder does not cover
    DECODE_BAD_SEGMENT,       // a segment's length field or codes do not fit the region
    DECODE_BAD_CODE,          // a bit pattern that is no code of the tables
    DECODE_TOO_LARGE,         // the region exceeds the decoder's limits
    DECODE_BAD_PAYLOAD_SIZE,  // the payload size does not match what its segments or rows take
};

const char* DecodeResultText(DecodeResult result);

// Checks marker, header size and checksum of the first 20 bytes and unpacks the fields.
// Does not look at the payload.
DecodeResult ParseFrameHeader(const uint8_t* unit, size_t length, FrameHeader* header);

// What the header does not carry and the encoder was told: the source depth, the segment
// length in pixels (64 for the sender's slices), and whether the unit was encoded without
// a source (the blank-region coder, whose units look like those of the planar coder).
struct DecodeOptions {
    int bitsPerPixel = 24;
    int segmentPixels = 64;
    bool blankRegion = false;
};

// The largest region the decoder produces, in bytes of `pixels`.
inline constexpr size_t kMaxDecodedBytes = size_t{64} << 20;

// The decoded region: `header.width` x `header.height` pixels of `bytesPerPixel` bytes,
// region row 0 (image row `header.y`) first, whatever order the source rows had in memory.
// The pixel bytes are the channels the unit carries, in source memory order:
//   type 0 (three-byte copy)              3 bytes: source bytes 0 to 2
//   type 2 and 4 (row copy)               bitsPerPixel / 8 bytes: the whole source pixel
//   type 1 and 3, 8 bits per pixel        1 byte
//   type 1, segment or planar coder       3 bytes: channels 0 to 2
//   type 3, segment coder                 4 bytes: channels 0 to 3
//   type 3, planar coder                  3 bytes: channels 0 to 2 (the fourth is not coded)
//   blank region                          3 bytes, all 255
struct DecodedRegion {
    FrameHeader header{};
    int bytesPerPixel = 0;
    std::vector<uint8_t> pixels;  // unspecified when the result is not DECODE_OK
};

DecodeResult DecodeFrame(const uint8_t* unit, size_t length, const DecodeOptions& options,
                         DecodedRegion* out);
