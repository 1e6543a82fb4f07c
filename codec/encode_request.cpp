#include "codec/encode_request.h"

#include <algorithm>
#include <cstdint>

#include "codec/channel_segments.h"
#include "codec/pixel_segment.h"
#include "codec/region_walk.h"

namespace {

constexpr uint64_t kMaxPayloadBytes = 0x0FFFFFFF;  // what the header's 28 bits carry
constexpr uint64_t kMaxField8Body = 255;           // what an 8-bit length field carries
constexpr int kMaxPlanarSegmentPixels = 64;        // the planar coder's channel buffers
// Longest code per value: ValueCodes and PairCodes 12 bits; a run-length segment at most
// 18 (run 0 and category 8: a 10-bit symbol and 8 extra bits).
constexpr uint64_t kValueBits = kMaxValueCodeBits;
constexpr uint64_t kRunLengthBits = 18;

uint64_t RoundUp4(uint64_t n) {
    return (n + 3) / 4 * 4;
}

uint64_t CodedBytes(uint64_t values, uint64_t bitsPerValue) {
    return (values * bitsPerValue + 7) / 8;
}

// Segment coder: the furthest a payload can reach, counting the coded attempt of a segment
// that then falls back to raw (each attempt starts where the segments before it ended).
uint64_t SegmentPayloadBound(uint64_t pixels, int segmentPixels, int channels, bool padLast) {
    const uint64_t sp = static_cast<uint64_t>(segmentPixels);
    auto attempt = [](uint64_t values) { return 2 + CodedBytes(values, kValueBits); };
    auto kept = [](uint64_t values, uint64_t rawValues) {
        const uint64_t coded = CodedBytes(values, kValueBits);
        const uint64_t body = kMaxCodedSegmentBody;
        return 2 + (coded <= body ? coded : std::max(body, rawValues));
    };
    const uint64_t full = pixels / sp;
    const uint64_t rest = pixels % sp;
    const uint64_t fullValues = sp * channels;
    uint64_t bound = 0;
    if (full > 0)
        bound = (full - 1) * kept(fullValues, fullValues) + attempt(fullValues);
    if (rest > 0) {
        const uint64_t values = rest * channels;
        const uint64_t rawValues = (rest + (padLast && rest % 2 != 0 ? 1 : 0)) * channels;
        bound = std::max(bound, full * kept(fullValues, fullValues) +
                                    std::max(attempt(values), kept(values, rawValues)));
    }
    return bound;
}

// Blank-region coder: exact. A segment of m pixels codes 127 three times (7 bits each), then
// zeros (2 bits each), one more zero when 3m is odd.
uint64_t BlankPayload(uint64_t pixels, int segmentPixels) {
    auto segment = [](uint64_t m) {
        const uint64_t values = 3 * m + m % 2;
        return 2 + (3 * 7 + 2 * (values - 3) + 7) / 8;
    };
    const uint64_t sp = static_cast<uint64_t>(segmentPixels);
    return pixels / sp * segment(sp) + (pixels % sp > 0 ? segment(pixels % sp) : 0);
}

ChannelCoder SelectChannelCoder(uint8_t flags, bool pairCoderAllowed) {
    if ((flags & FLAG_WORD_WRITER) == 0 || (flags & FLAG_PLAIN_DIFFERENCES) == 0) {
        return ChannelCoder::kRunLength;
    }
    return pairCoderAllowed && (flags & FLAG_PAIR_CODER) != 0 ? ChannelCoder::kPair
                                                              : ChannelCoder::kValue;
}

// The region lies inside the image, and so does every byte the path reads, including runs
// read with a pixel step wider than the image's pixels and the block variant's 64 pixels.
bool ReadsStayInImage(const FrameCodecParams& p, const EncodeRequest& r, int bytesPerPixel) {
    if (int64_t{p.x} + p.width > p.imageWidth || int64_t{p.y} + p.height > p.imageHeight) {
        return false;
    }
    if (p.width == 0 || p.height == 0)
        return true;
    const uint64_t bpp = static_cast<uint64_t>(bytesPerPixel);
    const uint64_t stride = RowStride(p.imageWidth, bytesPerPixel);
    uint64_t rowEnd = p.x * bpp + (p.width - 1u) * static_cast<uint64_t>(r.step) + r.channels;
    const bool block = r.path == EncodePath::kPlanar && (p.flags & FLAG_PIXEL_PAIRS) != 0;
    if (block && p.segmentPixels <= p.width) {
        const uint64_t lastBlock = static_cast<uint64_t>(p.x + p.width - p.segmentPixels) * bpp;
        rowEnd = std::max(rowEnd, lastBlock + (kBlockSamples - 1) * kBlockStep + 3);
    }
    const uint64_t furthestRow =
        (p.flags & FLAG_TOP_DOWN) != 0 ? p.y + p.height - 1u : p.imageHeight - 1u - p.y;
    return furthestRow * stride + rowEnd <= stride * static_cast<uint64_t>(p.imageHeight);
}

}  // namespace

bool ClassifyRequest(const FrameCodecParams& p, bool withSource, EncodeRequest* request) {
    if (p.headerSize < kFrameHeaderBytes || p.type > 4)
        return false;
    EncodeRequest r{};
    const int bytesPerPixel = p.bitsPerPixel / 8;
    const uint64_t pixels = uint64_t{p.width} * p.height;
    const int64_t sp = p.segmentPixels;
    uint64_t payload = 0;
    bool wordClose = true;  // the payload is padded to whole words, not the whole unit
    if (p.type == 0 || p.type == 2 || p.type == 4) {
        if (p.width == 0 || p.height == 0)
            return false;
        if (p.type == 0) {
            if (p.bitsPerPixel == 8)
                return false;
            r = {EncodePath::kCopyPixels3, 3, 4, ChannelCoder::kRunLength, 0};
        } else {
            r = {EncodePath::kCopyRows, bytesPerPixel, bytesPerPixel, ChannelCoder::kRunLength, 0};
        }
        payload = pixels * r.channels;
        wordClose = false;
    } else {
        if (p.imageWidth < 1 || p.imageHeight < 1 || sp < 1)
            return false;
        if (p.bitsPerPixel == 8) {
            r = {EncodePath::kSamples8, 1, 1, SelectChannelCoder(p.flags, false), 0};
            const uint64_t body =
                CodedBytes(sp, r.coder == ChannelCoder::kRunLength ? kRunLengthBits : kValueBits);
            if (sp > kSegmentSlots || body > kMaxField8Body)
                return false;
            payload = (pixels + sp - 1) / sp * (1 + body);
            wordClose = (p.flags & FLAG_WORD_WRITER) != 0;
        } else if (!withSource) {
            if (3 * sp > kSegmentSlots)
                return false;
            r = {EncodePath::kBlank, 3, 3, ChannelCoder::kPair, 0};
            payload = BlankPayload(pixels, p.segmentPixels);
        } else if (p.bitsPerPixel != 24 && p.bitsPerPixel != 32) {
            return false;
        } else if ((p.flags & FLAG_SEGMENT_CODER) != 0) {
            const bool pixelPairs = (p.flags & FLAG_PIXEL_PAIRS) != 0;
            const int channels = p.type == 1 ? 3 : 4;
            const int step = p.type == 1 && p.bitsPerPixel == 24 && !pixelPairs ? 3 : 4;
            if (channels * sp > kSegmentSlots)
                return false;
            r = {EncodePath::kSegments, channels, step, ChannelCoder::kPair, 0};
            payload = SegmentPayloadBound(pixels, p.segmentPixels, channels, !pixelPairs);
        } else {
            const bool block = (p.flags & FLAG_PIXEL_PAIRS) != 0;
            wordClose = (p.flags & FLAG_WORD_WRITER) != 0;
            // Block segments belong to the packed writer's units; mixed into the byte
            // writer's, they have no defined layout.
            if (sp > kMaxPlanarSegmentPixels || (block && !wordClose))
                return false;
            const int step = p.type == 1 && p.bitsPerPixel == 24 ? 3 : 4;
            r = {EncodePath::kPlanar, 3, step, SelectChannelCoder(p.flags, true), 0};
            const uint64_t bits = r.coder == ChannelCoder::kRunLength ? kRunLengthBits : kValueBits;
            uint64_t fullBody = CodedBytes(sp, bits);
            if (block)
                fullBody = std::max(fullBody, CodedBytes(kBlockSamples, kValueBits));
            const uint64_t rest = pixels % sp;
            payload =
                3 * (pixels / sp * (1 + fullBody) + (rest > 0 ? 1 + CodedBytes(rest, bits) : 0));
        }
    }
    if (r.path != EncodePath::kBlank) {
        if (!withSource || bytesPerPixel < 1 || bytesPerPixel > 4)
            return false;
        if (!ReadsStayInImage(p, r, bytesPerPixel))
            return false;
    }
    if (payload > kMaxPayloadBytes)
        return false;
    r.maxLength = wordClose ? p.headerSize + RoundUp4(payload) : RoundUp4(p.headerSize + payload);

    *request = r;
    return true;
}
