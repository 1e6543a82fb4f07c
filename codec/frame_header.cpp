#include <cstring>

#include "codec/frame_codec.h"

namespace {

void PutU16(uint8_t* at, unsigned value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// A 13-bit field with a 3-bit attribute above it.
void PutField13(uint8_t* at, uint16_t value, uint8_t attribute) {
    PutU16(at, (attribute & 0x7u) << 13 | (value & 0x1FFFu));
}

}  // namespace

int WriteFrameHeader(const FrameCodecParams* p, uint8_t* output) {
    if (p->headerSize < kFrameHeaderBytes)
        return 0;
    output[0] = kFrameMarker;
    output[1] = p->headerSize;
    PutU16(output + 2, (p->type & 0xFu) << 12 | (p->tag & 0x0FFFu));
    PutField13(output + 4, p->x, p->xAttr);
    PutField13(output + 6, p->y, p->yAttr);
    PutField13(output + 8, p->width, p->widthAttr);
    PutField13(output + 10, p->height, p->heightAttr);
    const uint32_t payload =
        (p->payloadAttr & 0xFu) << 28 | (static_cast<uint32_t>(p->payloadSize) & 0x0FFFFFFFu);
    PutU16(output + 12, payload & 0xFFFF);
    PutU16(output + 14, payload >> 16);
    output[16] = p->flags;
    output[17] = p->hdrByte17;
    output[18] = p->hdrByte18;
    uint8_t sum = 0;
    for (int i = 0; i < kFrameHeaderBytes - 1; ++i)
        sum = static_cast<uint8_t>(sum + output[i]);
    output[19] = static_cast<uint8_t>(-sum);  // the 20 bytes sum to 0 modulo 256
    std::memcpy(output + kFrameHeaderBytes, p->extraHeader, p->headerSize - kFrameHeaderBytes);
    return p->headerSize;
}
