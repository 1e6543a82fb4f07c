#include "codec/channel_segments.h"
#include "codec/encode_paths.h"

namespace {

constexpr int kPlanarChannels = 3;  // type 3's fourth channel is never coded

template <class Writer>
void PutPlanarSegments(Writer& w, const CodeTables& tables, const EncodeRequest& r, bool block,
                       const SegmentPixels& s) {
    if (block && s.wholeRun != nullptr) {
        for (int k = 0; k < kPlanarChannels; ++k)
            PutBlockSegment(w, tables, s.wholeRun + k);
        return;
    }
    int16_t values[kSegmentSlots / kPlanarChannels];
    for (int k = 0; k < kPlanarChannels; ++k) {
        for (int i = 0; i < s.pixels; ++i) {
            values[i] = static_cast<int16_t>(s.Difference(i * kPlanarChannels + k));
        }
        PutChannelSegment(w, tables, r.coder, values, s.pixels);
    }
}

}  // namespace

int EncodePlanar(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                 uint8_t* output) {
    const CodeTables& tables = GetCodeTables();
    // Block segments come only with the packed writer (the request checks that).
    const bool block = (p->flags & FLAG_PIXEL_PAIRS) != 0;
    return EncodeChannelSegments(p, output, [&](auto& w) {
        ForEachSegment(image, *p, kPlanarChannels, r.step,
                       [&](const SegmentPixels& s) { PutPlanarSegments(w, tables, r, block, s); });
    });
}
