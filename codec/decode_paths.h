#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/frame_decoder.h"

// The payload decoders behind DecodeFrame, one per family of coding paths. Each takes a
// coded payload in stream order and fills the region's pixels, rows one after another.

// The most values one segment holds (the encoder's difference buffers); the decoder keeps
// to it.
inline constexpr int kMaxSegmentValues = 256;

// A coded payload with its bytes in stream order (the packed writer's words turned round
// where they were stored least significant byte first), followed by kStreamSlack zero bytes.
struct StreamPayload {
    const uint8_t* bytes;
    size_t size;  // payload bytes, slack not counted
};

// Segments with 16-bit length fields (the segment coder and the blank-region coder):
// `channels` values a pixel, coded or raw. `paddedRaw`: a short last segment of an odd
// number of pixels was padded by one pixel before it was stored raw.
DecodeResult DecodeSegmentStream(const StreamPayload& payload, size_t pixels, int channels,
                                 int segmentPixels, bool paddedRaw, uint8_t* out);

// How the planar and 8-bit coders code one channel of a segment (8-bit length fields).
enum class ChannelCoding { kRunLength, kValues, kPairs };

// The planar coder: three channels of every segment, each in a segment of its own; with
// `blocks`, segments that lie within one row are pair-coded blocks of 64 samples.
DecodeResult DecodePlanarStream(const StreamPayload& payload, size_t width, size_t pixels,
                                int segmentPixels, ChannelCoding coder, bool blocks, uint8_t* out);

// The 8-bit sample coder: one sample a pixel; every segment holds `segmentPixels` values.
DecodeResult DecodeSampleStream(const StreamPayload& payload, size_t pixels, int segmentPixels,
                                ChannelCoding coder, uint8_t* out);
