#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/frame_codec.h"

// Addresses the source image: rows padded to 4 bytes, top-down or bottom-up.
struct SourceImage {
    const uint8_t* base;
    size_t stride;
    int imageHeight;
    int bytesPerPixel;
    bool topDown;

    const uint8_t* Row(int r) const {
        const int memoryRow = topDown ? r : imageHeight - 1 - r;
        return base + static_cast<size_t>(memoryRow) * stride;
    }
    const uint8_t* Pixel(int c, int r) const {
        return Row(r) + static_cast<size_t>(c) * bytesPerPixel;
    }
};

inline size_t RowStride(int imageWidth, int bytesPerPixel) {
    return (static_cast<size_t>(imageWidth) * bytesPerPixel + 3) / 4 * 4;
}

inline SourceImage MakeSourceImage(const FrameCodecParams& p, const uint8_t* source) {
    const int bytesPerPixel = p.bitsPerPixel / 8;
    return {source, RowStride(p.imageWidth, bytesPerPixel), p.imageHeight, bytesPerPixel,
            (p.flags & FLAG_TOP_DOWN) != 0};
}

inline constexpr int kSegmentSlots = 256;  // values a segment may hold
inline constexpr int kMaxChannels = 4;

// The pixels of one segment in raster order, `channels` bytes each. The predictor of each
// value is the byte `channels` places before it, and 128 for the first pixel: the first
// pixel of a segment is predicted from 128, the first pixel of a later run from the last
// pixel of the run before it (the end of the previous row's span).
struct SegmentPixels {
    // The values: in the source itself when one run of adjacent pixels filled the segment,
    // otherwise gathered into `bytes` behind `channels` bytes of 128.
    const uint8_t* values;
    int channels;
    int pixels;
    // The source of the first pixel when one run filled the whole segment, else null.
    const uint8_t* wholeRun;
    uint8_t bytes[kMaxChannels + kSegmentSlots + kMaxChannels];

    int Difference(int i) const { return values[i] - (i < channels ? 128 : values[i - channels]); }
    uint8_t* PixelBytes(int pixel) { return bytes + channels * (pixel + 1); }
};

// Walks the region as runs (the part of a row that belongs to one segment) and hands each
// segment of `segmentPixels` pixels to `emit`, then the partial last one, if any (the only
// one with fewer pixels, and always gathered). Pixels of a run are read `step` bytes apart;
// the caller has checked that channels times segmentPixels fits kSegmentSlots.
template <class Emit>
void ForEachSegment(const SourceImage& image, const FrameCodecParams& p, int channels, int step,
                    Emit&& emit) {
    SegmentPixels segment;
    std::memset(segment.bytes, 128, static_cast<size_t>(channels));
    segment.channels = channels;
    segment.pixels = 0;
    const int sp = p.segmentPixels;
    const int end = p.x + p.width;
    for (int r = p.y; r < p.y + p.height; ++r) {
        for (int c = p.x; c < end;) {
            const int n = std::min(sp - segment.pixels, end - c);
            const uint8_t* source = image.Pixel(c, r);
            c += n;
            if (segment.pixels == 0)
                segment.wholeRun = n == sp ? source : nullptr;
            if (segment.wholeRun != nullptr && step == channels) {
                segment.values = source;  // coded where it lies
            } else {
                segment.values = segment.PixelBytes(0);
                uint8_t* to = segment.PixelBytes(segment.pixels);
                if (step == channels) {
                    std::memcpy(to, source, static_cast<size_t>(n) * channels);
                } else {
                    for (int k = 0; k < n; ++k, to += channels, source += step) {
                        std::memcpy(to, source, static_cast<size_t>(channels));
                    }
                }
            }
            segment.pixels += n;
            if (segment.pixels == sp) {
                emit(segment);
                segment.pixels = 0;
            }
        }
    }
    if (segment.pixels > 0)
        emit(segment);
}
