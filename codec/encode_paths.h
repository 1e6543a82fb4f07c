#pragma once

#include <cstdint>

#include "codec/bit_writer.h"
#include "codec/encode_request.h"
#include "codec/frame_codec.h"
#include "codec/region_walk.h"

// The six encoding paths. Each gets a request that ClassifyRequest accepted, writes the
// whole unit (payload, padding, then the header, which carries payloadSize) and returns
// the output length.

int EncodeSegments(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output);
int EncodePlanar(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                 uint8_t* output);
int EncodeSamples8(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output);
int EncodeBlank(FrameCodecParams* p, uint8_t* output);
int CopyPixels3(FrameCodecParams* p, const SourceImage& image, uint8_t* output);
int CopyRows(FrameCodecParams* p, const SourceImage& image, uint8_t* output);

// Packed close: the payload ends on a whole word counted from its start.
template <ByteOrder kOrder>
int FinishWords(BitWriter<kOrder>& w, FrameCodecParams* p, uint8_t* output) {
    p->payloadSize = static_cast<int32_t>(w.CloseWords());
    WriteFrameHeader(p, output);
    return static_cast<int>(w.End() - output);
}

// Byte writer and copy close: zero bytes until the whole unit is a multiple of 4 long.
int FinishBytes(FrameCodecParams* p, uint8_t* output, uint8_t* payloadEnd);
