#include <cstring>

#include "codec/encode_paths.h"
#include "codec/pixel_segment.h"

int EncodeSegments(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output) {
    const CodeTables& tables = GetCodeTables();
    // The pixel-pair variant keeps an odd last segment as it is; otherwise a padding pixel
    // makes it even. Padding emits no code, and is stored as zeros when the segment is raw.
    const bool padLast = (p->flags & FLAG_PIXEL_PAIRS) == 0;
    return EncodeWords(p, output, [&](auto& w) {
        bool lastRaw = false;  // noisy segments come in runs
        ForEachSegment(image, *p, r.channels, r.step, [&](SegmentPixels& s) {
            int rawPixels = s.pixels;
            if (padLast && s.pixels < p->segmentPixels && s.pixels % 2 != 0) {
                std::memset(s.PixelBytes(s.pixels), 0, static_cast<size_t>(s.channels));
                ++rawPixels;
            }
            lastRaw = PutPixelSegment(w, tables, s.values, s.channels, s.pixels * s.channels,
                                      rawPixels * s.channels, lastRaw);
        });
    });
}
