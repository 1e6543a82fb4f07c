#include <algorithm>
#include <cstring>

#include "codec/decode_codes.h"
#include "codec/decode_paths.h"

namespace {

constexpr unsigned kRawSegment = 0x8000;  // length field flag: the body is plain bytes
constexpr unsigned kMaxCodedBody = 192;   // longer coded segments are stored raw
constexpr uint8_t kSegmentPredictor = 128;

// Turns the differences of one segment into pixel values: the first pixel is predicted
// from 128 in every channel, every later one from the pixel before it in raster order.
void PredictSegment(uint8_t* values, size_t count, int channels) {
    const size_t first = std::min(count, static_cast<size_t>(channels));
    for (size_t i = 0; i < first; ++i)
        values[i] = static_cast<uint8_t>(values[i] + kSegmentPredictor);
    for (size_t i = first; i < count; ++i) {
        values[i] = static_cast<uint8_t>(values[i] + values[i - static_cast<size_t>(channels)]);
    }
}

}  // namespace

DecodeResult DecodeSegmentStream(const StreamPayload& payload, size_t pixels, int channels,
                                 int segmentPixels, bool paddedRaw, uint8_t* out) {
    const uint8_t* bytes = payload.bytes;
    const size_t step = static_cast<size_t>(segmentPixels);
    size_t pos = 0;
    for (size_t first = 0; first < pixels; first += step) {
        const size_t segment = std::min(step, pixels - first);
        const size_t count = segment * static_cast<size_t>(channels);
        uint8_t* values = out + first * static_cast<size_t>(channels);
        if (payload.size - pos < 2)
            return DECODE_BAD_SEGMENT;
        const unsigned field = bytes[pos] | bytes[pos + 1] << 8;
        pos += 2;
        if (field & kRawSegment) {
            const bool padded = paddedRaw && segment < step && segment % 2 == 1;
            const size_t stored = count + (padded ? static_cast<size_t>(channels) : 0);
            if ((field & ~kRawSegment) != stored || payload.size - pos < stored) {
                return DECODE_BAD_SEGMENT;
            }
            std::memcpy(values, bytes + pos, count);
            pos += stored;
            continue;
        }
        if (field == 0 || field > kMaxCodedBody || payload.size - pos < field) {
            return DECODE_BAD_SEGMENT;
        }
        size_t body = 0;
        const DecodeResult result = DecodePairedValueCodes(
            bytes, pos * 8, (pos + field) * 8, static_cast<int>(count), values,
            [field](size_t bodyBytes) { return bodyBytes == field; }, &body);
        if (result != DECODE_OK)
            return result;
        PredictSegment(values, count, channels);
        pos += field;
    }
    return pos == payload.size ? DECODE_OK : DECODE_BAD_PAYLOAD_SIZE;
}
