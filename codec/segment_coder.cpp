#include <cstring>

#include "codec/encode_paths.h"
#include "codec/pixel_segment.h"

namespace {

template <ByteOrder kOrder>
int EncodeSegmentsAs(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                     uint8_t* output) {
    const CodeTables& tables = GetCodeTables();
    BitWriter<kOrder> w(output + p->headerSize);
    // The pixel-pair variant keeps an odd last segment as it is; otherwise a padding pixel
    // makes it even. Padding emits no code, and is stored as zeros when the segment is raw.
    const bool padLast = (p->flags & FLAG_PIXEL_PAIRS) == 0;
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
    return FinishWords(w, p, output);
}

}  // namespace

int EncodeSegments(FrameCodecParams* p, const EncodeRequest& r, const SourceImage& image,
                   uint8_t* output) {
    // Without the word-writer flag every payload word is byte-reversed, which is the stream
    // in order.
    return (p->flags & FLAG_WORD_WRITER) != 0
               ? EncodeSegmentsAs<ByteOrder::kWordsLittleEndian>(p, r, image, output)
               : EncodeSegmentsAs<ByteOrder::kStreamOrder>(p, r, image, output);
}
