#include "tests/decoder/round_trip_check.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

enum class Path { kCopyPixels3, kCopyRows, kSamples8, kSegments, kPlanar };

Path PathOf(const FrameCodecParams& p) {
    if (p.type == 0)
        return Path::kCopyPixels3;
    if (p.type == 2 || p.type == 4)
        return Path::kCopyRows;
    if (p.bitsPerPixel == 8)
        return Path::kSamples8;
    return (p.flags & FLAG_SEGMENT_CODER) ? Path::kSegments : Path::kPlanar;
}

// Channels the decoder gives per pixel, and the source bytes from one pixel to the next as
// the encoder reads them.
void PixelLayout(const FrameCodecParams& p, int* channels, int* step) {
    const int bytesPerPixel = p.bitsPerPixel / 8;
    const bool pixelPairs = p.flags & FLAG_PIXEL_PAIRS;
    switch (PathOf(p)) {
        case Path::kCopyPixels3:
            *channels = 3;
            *step = 4;
            return;
        case Path::kCopyRows:
            *channels = *step = bytesPerPixel;
            return;
        case Path::kSamples8:
            *channels = *step = 1;
            return;
        case Path::kSegments:
            *channels = p.type == 3 ? 4 : 3;
            *step = p.type == 1 && bytesPerPixel == 3 && !pixelPairs ? 3 : 4;
            return;
        case Path::kPlanar:
            *channels = 3;
            *step = p.type == 1 && bytesPerPixel == 3 ? 3 : 4;
            return;
    }
}

bool PayloadInWholeWords(const FrameCodecParams& p, bool blank) {
    switch (PathOf(p)) {
        case Path::kCopyPixels3:
        case Path::kCopyRows:
            return false;
        case Path::kSegments:
            return true;
        case Path::kSamples8:
        case Path::kPlanar:
            return blank || (p.flags & FLAG_WORD_WRITER);
    }
    return true;
}

std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace

size_t SourceStride(int imageWidth, int bitsPerPixel) {
    return (static_cast<size_t>(imageWidth) * static_cast<size_t>(bitsPerPixel / 8) + 3) / 4 * 4;
}

// The encoder reads the region as runs: the part of a row that belongs to one segment (the
// whole row for the copy paths). A run starts at its column's pixel and goes on `step`
// bytes a pixel; a planar block, a run that fills a whole segment, always 4 bytes a pixel.
std::vector<uint8_t> ExpectedRegion(const FrameCodecParams& p, const uint8_t* source) {
    if (!source)
        return std::vector<uint8_t>(size_t{p.width} * p.height * 3, 255);
    int channels = 0;
    int step = 0;
    PixelLayout(p, &channels, &step);
    const Path path = PathOf(p);
    const bool segmented = path == Path::kSegments || path == Path::kPlanar;
    const bool blocks = path == Path::kPlanar && (p.flags & FLAG_PIXEL_PAIRS);
    const int segmentPixels = segmented ? p.segmentPixels : p.width;
    const size_t stride = SourceStride(p.imageWidth, p.bitsPerPixel);
    const size_t bytesPerPixel = static_cast<size_t>(p.bitsPerPixel / 8);
    std::vector<uint8_t> region;
    region.reserve(size_t{p.width} * p.height * static_cast<size_t>(channels));
    int inSegment = 0;
    for (int r = p.y; r < p.y + p.height; ++r) {
        const int memoryRow = (p.flags & FLAG_TOP_DOWN) ? r : p.imageHeight - 1 - r;
        const uint8_t* row = source + static_cast<size_t>(memoryRow) * stride;
        for (int c = p.x; c < p.x + p.width;) {
            const int n = std::min(segmentPixels - inSegment, p.x + p.width - c);
            const size_t runStep = blocks && n == segmentPixels ? 4 : static_cast<size_t>(step);
            const uint8_t* pixel = row + static_cast<size_t>(c) * bytesPerPixel;
            for (int k = 0; k < n; ++k, pixel += runStep) {
                region.insert(region.end(), pixel, pixel + channels);
            }
            inSegment = (inSegment + n) % segmentPixels;
            c += n;
        }
    }
    return region;
}

DecodeOptions DecodeOptionsFor(const FrameCodecParams& params, bool blankRegion) {
    DecodeOptions options;
    options.bitsPerPixel = params.bitsPerPixel;
    options.segmentPixels = params.segmentPixels;
    options.blankRegion = blankRegion;
    return options;
}

RoundTripReport RunRoundTrip(FrameCodecParams params, const uint8_t* source) {
    const bool blank = source == nullptr && (params.type == 1 || params.type == 3);
    const size_t capacity = MaxEncodedLength(params, source != nullptr);
    if (capacity == 0)
        return {RoundTripOutcome::kEncoderRejected, "MaxEncodedLength is 0"};
    // Exactly the promised size on the heap, so that the sanitizers see any write past it.
    const std::unique_ptr<uint8_t[]> output(new uint8_t[capacity]);
    int outLength = -1;
    if (!EncodeFrame(&params, source, output.get(), &outLength)) {
        return {RoundTripOutcome::kEncoderRejected,
                "EncodeFrame rejected what MaxEncodedLength took"};
    }
    const size_t payload = static_cast<size_t>(params.payloadSize);
    const size_t expectedLength = PayloadInWholeWords(params, blank)
                                      ? params.headerSize + (payload + 3) / 4 * 4
                                      : (params.headerSize + payload + 3) / 4 * 4;
    if (outLength < 0 || static_cast<size_t>(outLength) != expectedLength ||
        static_cast<size_t>(outLength) > capacity) {
        return {RoundTripOutcome::kFailed, "output length " + std::to_string(outLength) +
                                               " for payload " + std::to_string(payload) +
                                               ", capacity " + std::to_string(capacity)};
    }
    // Padding is zero; in words stored least significant byte first it is the low end of
    // the last word.
    const bool wordsLsbFirst =
        PayloadInWholeWords(params, blank) && (params.flags & FLAG_WORD_WRITER);
    for (size_t i = payload; i < static_cast<size_t>(outLength) - params.headerSize; ++i) {
        const size_t at = wordsLsbFirst ? (i & ~size_t{3}) + 3 - (i & 3) : i;
        if (output[params.headerSize + at] != 0) {
            return {RoundTripOutcome::kFailed, "padding byte not zero"};
        }
    }
    DecodedRegion region;
    const DecodeResult result = DecodeFrame(output.get(), static_cast<size_t>(outLength),
                                            DecodeOptionsFor(params, blank), &region);
    if (result == DECODE_UNSUPPORTED)
        return {RoundTripOutcome::kNotDecodable, ""};
    if (result != DECODE_OK) {
        return {RoundTripOutcome::kFailed, std::string("decode: ") + DecodeResultText(result)};
    }
    const std::vector<uint8_t> expected = ExpectedRegion(params, source);
    if (region.pixels.size() != expected.size()) {
        return {RoundTripOutcome::kFailed, "decoded " + std::to_string(region.pixels.size()) +
                                               " bytes, expected " +
                                               std::to_string(expected.size())};
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (region.pixels[i] != expected[i]) {
            return {RoundTripOutcome::kFailed, "first difference at byte " + std::to_string(i) +
                                                   ": " + std::to_string(region.pixels[i]) +
                                                   " instead of " + std::to_string(expected[i])};
        }
    }
    const FrameHeader& h = region.header;
    if (h.headerSize != params.headerSize || h.type != params.type ||
        h.tag != (params.tag & 0x0FFF) || h.x != params.x || h.y != params.y ||
        h.xAttr != (params.xAttr & 7) || h.yAttr != (params.yAttr & 7) ||
        h.widthAttr != (params.widthAttr & 7) || h.heightAttr != (params.heightAttr & 7) ||
        h.payloadAttr != (params.payloadAttr & 15) || h.flags != params.flags ||
        h.hdrByte17 != params.hdrByte17 || h.hdrByte18 != params.hdrByte18 ||
        h.payloadSize != payload) {
        return {RoundTripOutcome::kFailed, "header fields differ"};
    }
    return {RoundTripOutcome::kMatched, ""};
}

std::string DescribeParams(const FrameCodecParams& p) {
    return "type " + std::to_string(p.type) + ", flags " + Hex(p.flags) + ", " +
           std::to_string(p.bitsPerPixel) + " bpp, segment " + std::to_string(p.segmentPixels) +
           ", region (" + std::to_string(p.x) + ", " + std::to_string(p.y) + ") " +
           std::to_string(p.width) + " x " + std::to_string(p.height) + " of " +
           std::to_string(p.imageWidth) + " x " + std::to_string(p.imageHeight) + ", header " +
           std::to_string(p.headerSize);
}
