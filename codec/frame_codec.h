#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/frame_format.h"

// The encoder's entry: one self-describing unit for the projector (frame_format.h) from a
// region of an uncompressed picture.

// Described by the caller, read by the codec; the codec writes back payloadSize only.
struct FrameCodecParams {
    uint8_t marker;
    uint8_t headerSize;
    uint16_t tag;
    uint8_t type;
    uint16_t x;
    uint8_t xAttr;
    uint16_t y;
    uint8_t yAttr;
    uint16_t width;
    uint8_t widthAttr;
    uint16_t height;
    uint8_t heightAttr;
    int32_t payloadSize;
    uint8_t payloadAttr;
    uint8_t flags;
    uint8_t hdrByte18;
    uint8_t spare;
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t bitsPerPixel;
    int32_t segmentPixels;
    uint8_t hdrByte17;
    uint8_t extraHeader[kMaxExtraHeaderBytes];  // headerSize - 20 bytes are copied
};

// Encodes the region of `source` that `params` describes into `output`. Returns false and
// writes nothing when the request is rejected; on success sets params.payloadSize and
// *outLength (bytes written from output onward, header and padding included).
// `output` must hold MaxEncodedLength(params, source != nullptr) bytes. Safe to call from
// several threads at once, each with its own buffers.
bool EncodeFrame(FrameCodecParams* params, const uint8_t* source, uint8_t* output, int* outLength);

// Writes the 20-byte header (and the extra header bytes); returns headerSize, or 0 and
// writes nothing when headerSize is below 20.
int WriteFrameHeader(const FrameCodecParams* params, uint8_t* output);

// The largest number of bytes EncodeFrame can write for these parameters, counting the
// coded attempt of a segment that then falls back to raw. `withSource` tells whether a
// source will be passed (without one, type 1 and 3 take the blank-region path). 0 for a
// request EncodeFrame rejects.
size_t MaxEncodedLength(const FrameCodecParams& params, bool withSource = true);
