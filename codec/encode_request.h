#pragma once

#include <cstddef>

#include "codec/frame_codec.h"

// Which path EncodeFrame takes for a request, and everything about the request that the
// path relies on having been checked.

enum class EncodePath { kCopyPixels3, kCopyRows, kSamples8, kBlank, kSegments, kPlanar };

// The per-channel segment coders the planar and 8-bit paths choose among by flags.
enum class ChannelCoder { kRunLength, kValue, kPair };

struct EncodeRequest {
    EncodePath path;
    int channels;  // bytes of each source pixel the path reads
    int step;      // bytes from one pixel of a run to the next
    ChannelCoder coder;
    size_t maxLength;  // bytes written from output onward, at most
};

// Classifies the request; false when EncodeFrame must reject it. `withSource` tells whether
// a source image is given.
bool ClassifyRequest(const FrameCodecParams& p, bool withSource, EncodeRequest* request);
