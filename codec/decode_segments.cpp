#include <algorithm>
#include <cstring>

#include "codec/decode_codes.h"
#include "codec/decode_paths.h"

namespace {

// Turns the differences of one segment into pixel values: the first pixel is predicted
// from 128 in every channel, every later one from the pixel before it in raster order.
// The predictors are plain locals so that they stay in registers; kept in memory they would
// chain every byte to a store a few bytes before it.
template <int kChannels>
void PredictPixels(uint8_t* values, size_t pixels) {
    static_assert(kChannels == 3 || kChannels == 4);
    uint8_t p0 = kSegmentPredictor, p1 = kSegmentPredictor, p2 = kSegmentPredictor;
    uint8_t p3 = kSegmentPredictor;
    for (size_t p = 0; p < pixels; ++p, values += kChannels) {
        values[0] = p0 = static_cast<uint8_t>(p0 + values[0]);
        values[1] = p1 = static_cast<uint8_t>(p1 + values[1]);
        values[2] = p2 = static_cast<uint8_t>(p2 + values[2]);
        if constexpr (kChannels == 4)
            values[3] = p3 = static_cast<uint8_t>(p3 + values[3]);
    }
}

// A coded segment: its codes, where its body starts and what its length field says.
struct CodedSegment {
    ValueCodeRun run;
    size_t start;
    unsigned field;
    size_t pixels;
};

// Checks the body length against the field and turns the differences into pixels.
DecodeResult FinishSegment(const uint8_t* bytes, const CodedSegment& segment, int channels) {
    size_t body = 0;
    const unsigned field = segment.field;
    const DecodeResult result = MatchPairedBody(
        bytes, segment.start, segment.run, [field](size_t bodyBytes) { return bodyBytes == field; },
        &body);
    if (result != DECODE_OK)
        return result;
    if (channels == 3) {
        PredictPixels<3>(segment.run.deltas, segment.pixels);
    } else {
        PredictPixels<4>(segment.run.deltas, segment.pixels);
    }
    return DECODE_OK;
}

}  // namespace

DecodeResult DecodeSegmentStream(const StreamPayload& payload, size_t pixels, int channels,
                                 int segmentPixels, bool paddedRaw, uint8_t* out) {
    const uint8_t* bytes = payload.bytes;
    const size_t step = static_cast<size_t>(segmentPixels);
    // Coded segments are decoded two at a time (their starts are known from the length
    // fields alone); `waiting` holds the first of a pair.
    CodedSegment waiting{};
    bool haveWaiting = false;
    size_t pos = 0;
    for (size_t first = 0; first < pixels; first += step) {
        const size_t segment = std::min(step, pixels - first);
        const size_t count = segment * static_cast<size_t>(channels);
        uint8_t* values = out + first * static_cast<size_t>(channels);
        if (payload.size - pos < 2)
            return DECODE_BAD_SEGMENT;
        const unsigned field = bytes[pos] | bytes[pos + 1] << 8;
        pos += 2;
        if (field & kRawSegmentFlag) {
            const bool padded = paddedRaw && segment < step && segment % 2 == 1;
            const size_t stored = count + (padded ? static_cast<size_t>(channels) : 0);
            if ((field & ~kRawSegmentFlag) != stored || payload.size - pos < stored) {
                return DECODE_BAD_SEGMENT;
            }
            std::memcpy(values, bytes + pos, count);
            pos += stored;
            continue;
        }
        if (field == 0 || field > kMaxCodedSegmentBody || payload.size - pos < field) {
            return DECODE_BAD_SEGMENT;
        }
        CodedSegment coded{
            {pos * 8, (pos + field) * 8, static_cast<int>(count), values}, pos * 8, field, segment};
        pos += field;
        if (!haveWaiting) {
            waiting = coded;
            haveWaiting = true;
            continue;
        }
        haveWaiting = false;
        DecodeResult result = DecodeValueCodes(bytes, &waiting.run, &coded.run);
        if (result == DECODE_OK)
            result = FinishSegment(bytes, waiting, channels);
        if (result == DECODE_OK)
            result = FinishSegment(bytes, coded, channels);
        if (result != DECODE_OK)
            return result;
    }
    if (haveWaiting) {
        DecodeResult result = DecodeValueCodes(bytes, &waiting.run);
        if (result == DECODE_OK)
            result = FinishSegment(bytes, waiting, channels);
        if (result != DECODE_OK)
            return result;
    }
    return pos == payload.size ? DECODE_OK : DECODE_BAD_PAYLOAD_SIZE;
}
