#include "codec/frame_decoder.h"

namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

const char* DecodeResultText(DecodeResult result) {
    switch (result) {
        case DECODE_OK:
            return "decoded";
        case DECODE_TRUNCATED:
            return "unit truncated";
        case DECODE_BAD_MARKER:
            return "no frame marker";
        case DECODE_BAD_CHECKSUM:
            return "header checksum mismatch";
        case DECODE_BAD_HEADER_SIZE:
            return "header size below 20";
        case DECODE_UNSUPPORTED:
            return "unsupported type, depth or flags";
        case DECODE_BAD_SEGMENT:
            return "segment does not fit the region";
        case DECODE_BAD_CODE:
            return "invalid code";
        case DECODE_TOO_LARGE:
            return "region too large";
    }
    return "unknown result";
}

DecodeResult ParseFrameHeader(const uint8_t* unit, size_t length, FrameHeader* header) {
    if (length < 20)
        return DECODE_TRUNCATED;
    if (unit[0] != 0xFB)
        return DECODE_BAD_MARKER;
    if (unit[1] < 20)
        return DECODE_BAD_HEADER_SIZE;
    uint8_t sum = 0;
    for (int i = 0; i < 20; ++i)
        sum = static_cast<uint8_t>(sum + unit[i]);
    if (sum != 0)
        return DECODE_BAD_CHECKSUM;
    FrameHeader h;
    h.headerSize = unit[1];
    h.type = static_cast<uint8_t>(Le16(unit + 2) >> 12);
    h.tag = Le16(unit + 2) & 0x0FFF;
    h.x = Le16(unit + 4) & 0x1FFF;
    h.xAttr = static_cast<uint8_t>(Le16(unit + 4) >> 13);
    h.y = Le16(unit + 6) & 0x1FFF;
    h.yAttr = static_cast<uint8_t>(Le16(unit + 6) >> 13);
    h.width = Le16(unit + 8) & 0x1FFF;
    h.widthAttr = static_cast<uint8_t>(Le16(unit + 8) >> 13);
    h.height = Le16(unit + 10) & 0x1FFF;
    h.heightAttr = static_cast<uint8_t>(Le16(unit + 10) >> 13);
    h.payloadSize = Le32(unit + 12) & 0x0FFFFFFF;
    h.payloadAttr = static_cast<uint8_t>(Le32(unit + 12) >> 28);
    h.flags = unit[16];
    h.hdrByte17 = unit[17];
    h.hdrByte18 = unit[18];
    *header = h;
    return DECODE_OK;
}

DecodeResult DecodeFrame(const uint8_t* unit, size_t length, const DecodeOptions& options,
                         DecodedRegion* out) {
    (void)options;
    DecodeResult result = ParseFrameHeader(unit, length, &out->header);
    if (result != DECODE_OK)
        return result;
    return DECODE_UNSUPPORTED;
}
