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

template <ByteOrder kOrder>
int EncodeBlankAs(FrameCodecParams* p, uint8_t* output) {
    const CodeTables& tables = GetCodeTables();
    BitWriter<kOrder> w(output + p->headerSize);
    const int64_t sp = p->segmentPixels;
    for (int64_t left = int64_t{p->width} * p->height; left > 0; left -= sp) {
        int values = static_cast<int>(std::min(left, sp) * 3);
        values += values % 2;  // an odd count codes one more zero
        PutPixelSegment(w, tables, kBlankSegment.data(), 3, values, values);
    }
    return FinishWords(w, p, output);
}

}  // namespace

int EncodeBlank(FrameCodecParams* p, uint8_t* output) {
    // Without the word-writer flag the words are byte-reversed, as in the segment coder.
    return (p->flags & FLAG_WORD_WRITER) != 0
               ? EncodeBlankAs<ByteOrder::kWordsLittleEndian>(p, output)
               : EncodeBlankAs<ByteOrder::kStreamOrder>(p, output);
}
