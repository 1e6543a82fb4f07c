#pragma once

#include <cstdint>

#include "codec/bit_writer.h"
#include "codec/encode_request.h"
#include "codec/frame_codec.h"
#include "codec/region_walk.h"

// The six encoding paths. Each gets a request that ClassifyRequest accepted, writes the
// whole unit (payload, padding, then the header, which carries payloadSize) and returns
// the output length.

struct SegmentKernel;

int EncodeSegments(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output, const SegmentKernel& kernel);
int EncodePlanar(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                 uint8_t* output);
int EncodeSamples8(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output);
int EncodeBlank(FrameCodecParams* p, const EncodeRequest& r, uint8_t* output);
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

// Close of a payload of `size` bytes already padded to a whole word: the header.
int FinishPaddedPayload(FrameCodecParams* p, uint8_t* output, size_t size);

// Runs `code` (taking a writer) with the packed writer and its close: words least
// significant byte first with flags bit 4 (FLAG_WORD_WRITER) set, byte-reversed, which is
// the stream in order, without.
template <class Code>
int EncodeWords(FrameCodecParams* p, uint8_t* output, Code&& code) {
    uint8_t* payload = output + p->headerSize;
    if ((p->flags & FLAG_WORD_WRITER) != 0) {
        PackedWriter w(payload);
        code(w);
        return FinishWords(w, p, output);
    }
    ByteWriter w(payload);
    code(w);
    return FinishWords(w, p, output);
}

// Runs `code` with the writer flags bit 4 chooses for the planar and 8-bit paths: the
// packed writer with it set, the byte writer without.
template <class Code>
int EncodeChannelSegments(FrameCodecParams* p, uint8_t* output, Code&& code) {
    if ((p->flags & FLAG_WORD_WRITER) != 0) {
        return EncodeWords(p, output, code);
    }
    uint8_t* payload = output + p->headerSize;
    ByteWriter w(payload);
    code(w);
    return FinishBytes(p, output, payload + w.CloseBytes());
}
