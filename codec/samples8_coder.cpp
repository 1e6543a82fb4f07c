#include <cstring>

#include "codec/channel_segments.h"
#include "codec/encode_paths.h"

namespace {

// Every segment codes segmentPixels values: a partial last one is filled up with zero
// differences, that is with copies of its last sample.
template <class Writer>
void PutSampleSegments(Writer& w, const CodeTables& tables, const FrameCodecParams& p,
                       const EncodeRequest& r, const SourceImage& image) {
    ForEachSegment(image, p, 1, 1, [&](SegmentPixels& s) {
        if (s.pixels < p.segmentPixels) {
            std::memset(s.PixelBytes(s.pixels), *s.PixelBytes(s.pixels - 1),
                        static_cast<size_t>(p.segmentPixels - s.pixels));
        }
        int16_t values[kSegmentSlots];
        for (int i = 0; i < p.segmentPixels; ++i)
            values[i] = static_cast<int16_t>(s.Difference(i));
        PutChannelSegment(w, tables, r.coder, values, p.segmentPixels);
    });
}

}  // namespace

int EncodeSamples8(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output) {
    const CodeTables& tables = GetCodeTables();
    return EncodeChannelSegments(p, output,
                                 [&](auto& w) { PutSampleSegments(w, tables, *p, r, image); });
}
