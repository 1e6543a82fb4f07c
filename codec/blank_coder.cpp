#include <algorithm>
#include <array>

#include "codec/encode_paths.h"
#include "codec/pixel_segment.h"

namespace {

// Pixels of 255 in each of 3 channels: differences 127, 127, 127 from the 128 predictor,
// then zeros, for a whole segment and the one extra value an odd count reads.
constexpr auto kBlankSegment = [] {
    std::array<uint8_t, kSegmentSlots + 1> bytes{};
    bytes.fill(255);
    return bytes;
}();

}  // namespace

// Written like the segment coder's units, words included.
int EncodeBlank(FrameCodecParams* p, const EncodeRequest& r, uint8_t* output) {
    const CodeTables& tables = GetCodeTables();
    const int64_t sp = p->segmentPixels;
    uint8_t* payload = output + p->headerSize;
    uint8_t* at = payload;
    for (int64_t left = int64_t{p->width} * p->height; left > 0; left -= sp) {
        int values = static_cast<int>(std::min(left, sp) * 3);
        values += values % 2;  // an odd count codes one more zero
        bool raw = false;
        at = PutPixelSegmentBefore<BaseTier>(output + r.maxLength, at, tables, kBlankSegment.data(),
                                             3, values, values, false, &raw);
    }
    return FinishPaddedPayload(p, output, CloseSegmentPayload<BaseTier>(payload, at, p->flags));
}
