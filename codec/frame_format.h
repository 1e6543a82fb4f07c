#pragma once

#include <cstdint>

// The projector's frame format, written down once.
//
// UNIT: what EncodeFrame writes and DecodeFrame reads.
//
//   .- header: 20 bytes ------.- extra -.- payload --------------.- pad -.
//   | see HEADER below         | 0..235  | payloadSize bytes      | 0..3  |
//   '--------------------------'---------'------------------------'-------'
//   ^ byte 0                   ^ 20      ^ headerSize
//
//   The padding bytes are 0. Paths that write 32-bit words (flags & 0x10, and always the
//   segment coder) end on a whole word counted from the payload's start; the byte writer
//   and the copies pad until the whole unit is a multiple of 4 long.
//
// HEADER: multi-byte fields least significant byte first.
//
//    byte  0        1           2 - 3              4 - 5            6 - 7
//        .------.----------.-------------------.----------------.----------------.
//        | 0xFB | hdr size | type:4 | tag:12   | xAttr:3 | x:13 | yAttr:3 | y:13 |
//        '------'----------'-------------------'----------------'----------------'
//    byte      8 - 9                 10 - 11                 12 - 15
//        .--------------------.----------------------.-------------------------------.
//        | widthAttr:3 | w:13 | heightAttr:3 | h:13  | payloadAttr:4 | payloadSize:28 |
//        '--------------------'----------------------'-------------------------------'
//    byte   16       17          18          19
//        .-------.-----------.-----------.----------.
//        | flags | hdrByte17 | hdrByte18 | checksum |    the 20 bytes sum to 0 mod 256
//        '-------'-----------'-----------'----------'
//
//   In the 16-bit fields the named value takes the high bits (type: bits 15-12 of bytes
//   2-3). The projector's use of tag, the attributes, hdrByte17 and hdrByte18 is not known;
//   the codec only carries them.
//
//   type  0: three bytes of every pixel, uncompressed     1: coded, 3 channels
//         2, 4: whole pixels, uncompressed                3: coded, 4 channels
//   flags 0x01 rows top-down (else bottom-up)             0x08 planar/8-bit: plain values
//         0x10 words least significant byte first         0x20 segment coder
//         0x40 pixel pairs / planar blocks                0x80 planar: pair coder
//
// A SLICE ON THE WIRE: one vendor write to the projector.
//
//   .- lead-in -.- header --.- payload and padding -.- end marker -------------------.
//   | 64 x 00   | 20 bytes  | coded, or raw bytes   | FB 14 02 20, 12 x 00, 80 00 00 4F |
//   '-----------'-----------'-----------------------'----------------------------------'
//
//   A coded slice is type 1, 1024 x 21 pixels (widthAttr 2), flags 0x31, hdrByte18 4. A raw
//   slice is type 0 with flags 0x01, width x height x 3 = its byte count. The end marker is
//   a header of type 2, tag 2 and flags 0x80. The last slice of a compressed frame is sent
//   raw and without the lead-in.
//
// SEGMENTS: every coded payload is a sequence of segments, each starting on a byte.
//
//   .- length field -.- body -----------------------------------------.
//   | 16 or 8 bits   | codes, then 0 bits to a byte; or raw bytes     |
//   '----------------'------------------------------------------------'
//
//   16-bit field (segment coder, blank regions): low byte first in the stream. Coded: the
//   body's byte count, at most 192. Raw (0x8000 set): the low 15 bits count the body's
//   bytes, one per value; a segment whose codes would exceed 192 bytes is stored raw.
//   8-bit field (planar and 8-bit paths): the body's byte count, low 8 bits.
//
//   Bits are written most significant first. With flags 0x10 every 32-bit word of the
//   payload is stored least significant byte first, so the stream's first byte of a word is
//   the word's fourth byte in memory; without it the bytes are in stream order.
//
// PREDICTION: a value is coded as its difference from the same channel of the pixel before
// it in the region's raster order (segments run on across rows), and from 128 at the start
// of every segment, so that each segment decodes on its own.
//
// CODES: a difference v (-255..255) taken modulo 256 into w (-127..128) is coded as the
// code of its magnitude category c (bits of |w|), then c extra bits (w, or w - 1 when
// negative). Category codes: 0 "00", 1 "010", 2 "011", 3 "100", 4 "101", 5 "110",
// 6 "1110", 7 "11110", 8 "11111". The unwrapped v = +-128 and +-127 escape to "11111" and
// two bits: 128 and -128 "00", 127 "11", -127 "10". Run-length segments code (zero run,
// value) symbols with the luminance AC table of JPEG and its extra bits, "1010" ending a
// block and "11111111001" standing for sixteen zeros.

inline constexpr int kFrameHeaderBytes = 20;
inline constexpr uint8_t kFrameMarker = 0xFB;
inline constexpr int kMaxExtraHeaderBytes = 255 - kFrameHeaderBytes;

// flags bits
inline constexpr uint8_t FLAG_TOP_DOWN = 0x01;
inline constexpr uint8_t FLAG_PLAIN_DIFFERENCES = 0x08;
inline constexpr uint8_t FLAG_WORD_WRITER = 0x10;
inline constexpr uint8_t FLAG_SEGMENT_CODER = 0x20;
inline constexpr uint8_t FLAG_PIXEL_PAIRS = 0x40;  // planar coder: block variant
inline constexpr uint8_t FLAG_PAIR_CODER = 0x80;

inline constexpr uint8_t kSegmentPredictor = 128;
inline constexpr int kMaxCodedSegmentBody = 192;
inline constexpr unsigned kRawSegmentFlag = 0x8000;

// The fields of the 20-byte header, each with its own width.
struct FrameHeader {
    uint8_t headerSize;
    uint8_t type;  // 4 bits
    uint16_t tag;  // 12 bits
    uint16_t x;    // 13 bits, and each 3-bit attribute beside its value
    uint8_t xAttr;
    uint16_t y;
    uint8_t yAttr;
    uint16_t width;
    uint8_t widthAttr;
    uint16_t height;
    uint8_t heightAttr;
    uint32_t payloadSize;  // 28 bits
    uint8_t payloadAttr;   // 4 bits
    uint8_t flags;
    uint8_t hdrByte17;
    uint8_t hdrByte18;
};

// Writes the 20 header bytes, marker and checksum included; each field keeps only the bits
// the format gives it.
void PackFrameHeader(const FrameHeader& header, uint8_t bytes[kFrameHeaderBytes]);

// The fields of 20 header bytes. Does not check the marker or the checksum.
FrameHeader UnpackFrameHeader(const uint8_t bytes[kFrameHeaderBytes]);

// 0 minus the sum of the first 19 bytes, modulo 256.
uint8_t FrameHeaderChecksum(const uint8_t bytes[kFrameHeaderBytes]);
