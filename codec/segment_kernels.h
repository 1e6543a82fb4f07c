#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/region_walk.h"

// The segment coder's payload, compiled once for each instruction set it can use and chosen
// when the process starts: every kernel writes the same bytes.

struct SegmentJob {
    const FrameCodecParams* params;
    const SourceImage* image;
    int channels;  // coded bytes of each pixel
    int step;      // bytes from one pixel of a run to the next
    uint8_t* payload;
    const uint8_t* limit;  // the end of the caller's output; nothing is written past it
};

struct SegmentKernel {
    const char* name;
    // Writes the payload and its padding, words turned round as the flags ask; returns the
    // payload's size without the padding.
    size_t (*encodePayload)(const SegmentJob& job);
};

// The kernels this processor runs, the fastest first; the last one needs only SSE2.
const std::vector<SegmentKernel>& RunnableSegmentKernels();

inline const SegmentKernel& FastestSegmentKernel() {
    return RunnableSegmentKernels().front();
}

// EncodeFrame with the segment coder's payload written by `kernel`.
bool EncodeFrameWith(const SegmentKernel& kernel, FrameCodecParams* params, const uint8_t* source,
                     uint8_t* output, int* outLength);
