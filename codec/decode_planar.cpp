#include <algorithm>

#include "codec/decode_codes.h"
#include "codec/decode_paths.h"

namespace {

constexpr int kBlockSamples = 64;  // a block segment always codes 64 samples

// One channel segment with an 8-bit length field at byte *pos: `count` differences coded
// by `coder`. The field keeps only the low 8 bits of the body length, so the codes, not the
// field, say where the body ends; the field must agree with them.
DecodeResult DecodeChannelSegment(const StreamPayload& payload, size_t* pos, ChannelCoding coder,
                                  int count, uint8_t* deltas) {
    if (*pos >= payload.size)
        return DECODE_BAD_SEGMENT;
    const uint8_t field = payload.bytes[*pos];
    const size_t start = (*pos + 1) * 8;
    const size_t end = payload.size * 8;
    const auto fieldMatches = [field](size_t bodyBytes) { return (bodyBytes & 0xFF) == field; };
    size_t body = 0;
    if (coder == ChannelCoding::kRunLength) {
        size_t bit = start;
        const DecodeResult result = DecodeRunLengthCodes(payload.bytes, &bit, end, count, deltas);
        if (result != DECODE_OK)
            return result;
        body = (bit - start + 7) / 8;
        if (!fieldMatches(body))
            return DECODE_BAD_SEGMENT;
    } else {
        ValueCodeRun run{start, end, count, deltas};
        DecodeResult result = DecodeValueCodes(payload.bytes, &run);
        if (result != DECODE_OK)
            return result;
        body = (run.position - start + 7) / 8;
        if (coder == ChannelCoding::kPairs) {
            result = MatchPairedBody(payload.bytes, start, run, fieldMatches, &body);
            if (result != DECODE_OK)
                return result;
        } else if (!fieldMatches(body)) {
            return DECODE_BAD_SEGMENT;
        }
    }
    *pos += 1 + body;
    return DECODE_OK;
}

// Turns `count` differences of one channel into samples `stride` bytes apart, the first
// predicted from 128.
void PredictChannel(const uint8_t* deltas, size_t count, size_t stride, uint8_t* samples) {
    uint8_t previous = kSegmentPredictor;
    for (size_t i = 0; i < count; ++i) {
        previous = static_cast<uint8_t>(previous + deltas[i]);
        samples[i * stride] = previous;
    }
}

}  // namespace

DecodeResult DecodePlanarStream(const StreamPayload& payload, size_t width, size_t pixels,
                                int segmentPixels, ChannelCoding coder, bool blocks, uint8_t* out) {
    constexpr int kChannels = 3;
    const size_t step = static_cast<size_t>(segmentPixels);
    uint8_t deltas[kMaxSegmentValues];
    size_t pos = 0;
    for (size_t first = 0; first < pixels; first += step) {
        const size_t segment = std::min(step, pixels - first);
        // The encoder codes a segment that it reads in one run, within one row, as blocks.
        const bool block = blocks && width - first % width >= step;
        for (int channel = 0; channel < kChannels; ++channel) {
            const DecodeResult result =
                DecodeChannelSegment(payload, &pos, block ? ChannelCoding::kPairs : coder,
                                     block ? kBlockSamples : static_cast<int>(segment), deltas);
            if (result != DECODE_OK)
                return result;
            PredictChannel(deltas, segment, kChannels, out + first * kChannels + channel);
        }
    }
    return pos == payload.size ? DECODE_OK : DECODE_BAD_PAYLOAD_SIZE;
}

DecodeResult DecodeSampleStream(const StreamPayload& payload, size_t pixels, int segmentPixels,
                                ChannelCoding coder, uint8_t* out) {
    const size_t step = static_cast<size_t>(segmentPixels);
    uint8_t deltas[kMaxSegmentValues];
    size_t pos = 0;
    for (size_t first = 0; first < pixels; first += step) {
        // A short last segment is filled up with zero differences to the full count.
        const DecodeResult result =
            DecodeChannelSegment(payload, &pos, coder, segmentPixels, deltas);
        if (result != DECODE_OK)
            return result;
        PredictChannel(deltas, std::min(step, pixels - first), 1, out + first);
    }
    return pos == payload.size ? DECODE_OK : DECODE_BAD_PAYLOAD_SIZE;
}
