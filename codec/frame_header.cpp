#include <cstring>

#include "codec/frame_codec.h"

namespace {

void PutU16(uint8_t* at, unsigned value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

unsigned U16(const uint8_t* at) {
    return at[0] | at[1] << 8;
}

// A 13-bit value with a 3-bit attribute above it.
void PutField13(uint8_t* at, uint16_t value, uint8_t attribute) {
    PutU16(at, (attribute & 0x7u) << 13 | (value & 0x1FFFu));
}

uint16_t Value13(const uint8_t* at) {
    return static_cast<uint16_t>(U16(at) & 0x1FFF);
}

uint8_t Attribute3(const uint8_t* at) {
    return static_cast<uint8_t>(U16(at) >> 13);
}

}  // namespace

uint8_t FrameHeaderChecksum(const uint8_t bytes[kFrameHeaderBytes]) {
    uint8_t sum = 0;
    for (int i = 0; i < kFrameHeaderBytes - 1; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(-sum);
}

void PackFrameHeader(const FrameHeader& h, uint8_t bytes[kFrameHeaderBytes]) {
    bytes[0] = kFrameMarker;
    bytes[1] = h.headerSize;
    PutU16(bytes + 2, (h.type & 0xFu) << 12 | (h.tag & 0x0FFFu));
    PutField13(bytes + 4, h.x, h.xAttr);
    PutField13(bytes + 6, h.y, h.yAttr);
    PutField13(bytes + 8, h.width, h.widthAttr);
    PutField13(bytes + 10, h.height, h.heightAttr);
    const uint32_t payload = (h.payloadAttr & 0xFu) << 28 | (h.payloadSize & 0x0FFFFFFFu);
    PutU16(bytes + 12, payload & 0xFFFF);
    PutU16(bytes + 14, payload >> 16);
    bytes[16] = h.flags;
    bytes[17] = h.hdrByte17;
    bytes[18] = h.hdrByte18;
    bytes[19] = FrameHeaderChecksum(bytes);
}

FrameHeader UnpackFrameHeader(const uint8_t bytes[kFrameHeaderBytes]) {
    FrameHeader h;
    h.headerSize = bytes[1];
    h.type = static_cast<uint8_t>(U16(bytes + 2) >> 12);
    h.tag = static_cast<uint16_t>(U16(bytes + 2) & 0x0FFF);
    h.x = Value13(bytes + 4);
    h.xAttr = Attribute3(bytes + 4);
    h.y = Value13(bytes + 6);
    h.yAttr = Attribute3(bytes + 6);
    h.width = Value13(bytes + 8);
    h.widthAttr = Attribute3(bytes + 8);
    h.height = Value13(bytes + 10);
    h.heightAttr = Attribute3(bytes + 10);
    const uint32_t payload = U16(bytes + 12) | static_cast<uint32_t>(U16(bytes + 14)) << 16;
    h.payloadSize = payload & 0x0FFFFFFF;
    h.payloadAttr = static_cast<uint8_t>(payload >> 28);
    h.flags = bytes[16];
    h.hdrByte17 = bytes[17];
    h.hdrByte18 = bytes[18];
    return h;
}

int WriteFrameHeader(const FrameCodecParams* p, uint8_t* output) {
    if (p->headerSize < kFrameHeaderBytes)
        return 0;
    const FrameHeader header = {
        p->headerSize,  p->type,   p->tag,        p->x,
        p->xAttr,       p->y,      p->yAttr,      p->width,
        p->widthAttr,   p->height, p->heightAttr, static_cast<uint32_t>(p->payloadSize),
        p->payloadAttr, p->flags,  p->hdrByte17,  p->hdrByte18};
    PackFrameHeader(header, output);
    std::memcpy(output + kFrameHeaderBytes, p->extraHeader, p->headerSize - kFrameHeaderBytes);
    return p->headerSize;
}
