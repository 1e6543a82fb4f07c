#include "codec/frame_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "codec/decode_codes.h"
#include "codec/decode_paths.h"
#include "codec/frame_codec.h"

namespace {

// The planar coder's channel buffers hold 64 pixels.
constexpr int kMaxPlanarSegmentPixels = 64;
// The smallest payload share of one segment: a length field and one body byte, three
// times over for the planar coder's channels.
constexpr size_t kMinWideFieldSegment = 3;
constexpr size_t kMinPlanarSegment = 6;
constexpr size_t kMinSampleSegment = 2;

}  // namespace

const char* DecodeResultText(DecodeResult result) {
    switch (result) {
        case DECODE_OK:
            return "decoded";
        case DECODE_TRUNCATED:
            return "unit truncated";
        case DECODE_BAD_MARKER:
            return "no frame marker";
        case DECODE_BAD_CHECKSUM:
            return "header checksum mismatch";
        case DECODE_BAD_HEADER_SIZE:
            return "header size below 20";
        case DECODE_UNSUPPORTED:
            return "unsupported type, depth or flags";
        case DECODE_BAD_SEGMENT:
            return "segment does not fit the region";
        case DECODE_BAD_CODE:
            return "invalid code";
        case DECODE_TOO_LARGE:
            return "region too large";
        case DECODE_BAD_PAYLOAD_SIZE:
            return "payload size does not match its contents";
    }
    return "unknown result";
}

DecodeResult ParseFrameHeader(const uint8_t* unit, size_t length, FrameHeader* header) {
    if (length < kFrameHeaderBytes)
        return DECODE_TRUNCATED;
    if (unit[0] != kFrameMarker)
        return DECODE_BAD_MARKER;
    if (unit[1] < kFrameHeaderBytes)
        return DECODE_BAD_HEADER_SIZE;
    if (FrameHeaderChecksum(unit) != unit[kFrameHeaderBytes - 1])
        return DECODE_BAD_CHECKSUM;
    *header = UnpackFrameHeader(unit);
    return DECODE_OK;
}

namespace {

// How a coded payload is laid out, chosen from the header and the options.
struct CodedPath {
    enum Family { kSegments, kPlanar, kSamples } family;
    int bytesPerPixel;       // of the decoded pixels
    bool wordsLsbFirst;      // packed-writer words stored least significant byte first
    size_t minSegmentBytes;  // payload share of one segment at the least
    ChannelCoding coder;     // kPlanar, kSamples
    bool paddedRaw;          // kSegments: see DecodeSegmentStream
    bool blocks;             // kPlanar
};

// The coder of one channel segment, chosen by flags as the encoder chooses it.
ChannelCoding SelectChannelCoding(uint8_t flags, bool pairsAllowed) {
    if (!(flags & FLAG_WORD_WRITER) || !(flags & FLAG_PLAIN_DIFFERENCES)) {
        return ChannelCoding::kRunLength;
    }
    return pairsAllowed && (flags & FLAG_PAIR_CODER) ? ChannelCoding::kPairs
                                                     : ChannelCoding::kValues;
}

// The path the encoder took for a type 1 or 3 unit; false when the decoder does not cover it.
bool SelectCodedPath(const FrameHeader& header, const DecodeOptions& options, CodedPath* path) {
    const uint8_t flags = header.flags;
    const bool wordWriter = flags & FLAG_WORD_WRITER;
    const int segmentPixels = options.segmentPixels;
    if (segmentPixels < 1)
        return false;
    if (options.bitsPerPixel == 8) {
        *path = {CodedPath::kSamples,
                 1,
                 wordWriter,
                 kMinSampleSegment,
                 SelectChannelCoding(flags, false),
                 false,
                 false};
        return !options.blankRegion && segmentPixels <= kMaxSegmentValues;
    }
    if (options.blankRegion) {
        // The segment coder's stream of 3-channel pixels of 255, whatever flags bits 5 and 6
        // say; without bit 4 its words are byte-reversed as the segment coder's are.
        *path = {CodedPath::kSegments,  3,    wordWriter, kMinWideFieldSegment,
                 ChannelCoding::kPairs, true, false};
        return segmentPixels * 3 <= kMaxSegmentValues;
    }
    if (flags & FLAG_SEGMENT_CODER) {
        const int channels = header.type == 3 ? 4 : 3;
        *path = {CodedPath::kSegments,
                 channels,
                 wordWriter,
                 kMinWideFieldSegment,
                 ChannelCoding::kPairs,
                 !(flags & FLAG_PIXEL_PAIRS),
                 false};
        return segmentPixels * channels <= kMaxSegmentValues;
    }
    // Block segments are written with the packed writer; mixed with the byte writer they
    // land on top of one another, which no decoder can take apart.
    const bool blocks = flags & FLAG_PIXEL_PAIRS;
    *path = {CodedPath::kPlanar,
             3,
             wordWriter,
             kMinPlanarSegment,
             SelectChannelCoding(flags, true),
             false,
             blocks};
    return segmentPixels <= kMaxPlanarSegmentPixels && (wordWriter || !blocks);
}

// The payload in stream order, followed by the zero slack the bit readers need.
std::unique_ptr<uint8_t[]> GatherStream(const uint8_t* payload, size_t size, bool wordsLsbFirst) {
    std::unique_ptr<uint8_t[]> stream(new uint8_t[size + kStreamSlack]);
    uint8_t* bytes = stream.get();
    if (!wordsLsbFirst) {
        std::memcpy(bytes, payload, size);
    } else {
        // The caller has made sure that the last word is there whole.
        const auto streamWord = [payload](size_t at) {
            uint32_t word;
            std::memcpy(&word, payload + at, sizeof word);
            if constexpr (std::endian::native == std::endian::little) {
                word = __builtin_bswap32(word);
            }
            return word;
        };
        size_t at = 0;
        for (; at + sizeof(uint32_t) <= size; at += sizeof(uint32_t)) {
            const uint32_t word = streamWord(at);
            std::memcpy(bytes + at, &word, sizeof word);
        }
        if (at < size) {
            const uint32_t word = streamWord(at);
            std::memcpy(bytes + at, &word, size - at);
        }
    }
    std::memset(bytes + size, 0, kStreamSlack);
    return stream;
}

DecodeResult DecodeCoded(const uint8_t* payload, size_t available, const DecodeOptions& options,
                         DecodedRegion* out) {
    const FrameHeader& header = out->header;
    CodedPath path;
    if (!SelectCodedPath(header, options, &path))
        return DECODE_UNSUPPORTED;
    const size_t size = header.payloadSize;
    // A stored word is needed whole to find its bytes' stream order.
    const size_t stored = path.wordsLsbFirst ? (size + 3) & ~size_t{3} : size;
    if (available < stored)
        return DECODE_TRUNCATED;
    const size_t pixels = size_t{header.width} * header.height;
    if (pixels * static_cast<size_t>(path.bytesPerPixel) > kMaxDecodedBytes) {
        return DECODE_TOO_LARGE;
    }
    const size_t step = static_cast<size_t>(options.segmentPixels);
    if (size < (pixels + step - 1) / step * path.minSegmentBytes)
        return DECODE_BAD_PAYLOAD_SIZE;

    const std::unique_ptr<uint8_t[]> stream = GatherStream(payload, size, path.wordsLsbFirst);
    const StreamPayload coded{stream.get(), size};
    out->bytesPerPixel = path.bytesPerPixel;
    out->pixels.resize(pixels * static_cast<size_t>(path.bytesPerPixel));
    uint8_t* pixelBytes = out->pixels.data();
    switch (path.family) {
        case CodedPath::kSegments:
            return DecodeSegmentStream(coded, pixels, path.bytesPerPixel, options.segmentPixels,
                                       path.paddedRaw, pixelBytes);
        case CodedPath::kPlanar:
            return DecodePlanarStream(coded, header.width, pixels, options.segmentPixels,
                                      path.coder, path.blocks, pixelBytes);
        case CodedPath::kSamples:
            return DecodeSampleStream(coded, pixels, options.segmentPixels, path.coder, pixelBytes);
    }
    return DECODE_UNSUPPORTED;
}

// The copy paths: the region's rows, `bytesPerPixel` bytes a pixel, one after another.
DecodeResult DecodeCopy(const uint8_t* payload, size_t available, int bytesPerPixel,
                        DecodedRegion* out) {
    const FrameHeader& header = out->header;
    const size_t size = size_t{header.width} * header.height * static_cast<size_t>(bytesPerPixel);
    if (available < header.payloadSize)
        return DECODE_TRUNCATED;
    if (header.payloadSize != size)
        return DECODE_BAD_PAYLOAD_SIZE;
    out->bytesPerPixel = bytesPerPixel;
    out->pixels.assign(payload, payload + size);
    return DECODE_OK;
}

}  // namespace

DecodeResult DecodeFrame(const uint8_t* unit, size_t length, const DecodeOptions& options,
                         DecodedRegion* out) {
    out->bytesPerPixel = 0;
    const DecodeResult result = ParseFrameHeader(unit, length, &out->header);
    if (result != DECODE_OK)
        return result;
    const FrameHeader& header = out->header;
    if (length < header.headerSize)
        return DECODE_TRUNCATED;
    const uint8_t* payload = unit + header.headerSize;
    const size_t available = length - header.headerSize;
    switch (header.type) {
        case 0:  // three bytes of every pixel
            return DecodeCopy(payload, available, 3, out);
        case 2:
        case 4: {  // whole pixels
            const int bytesPerPixel = options.bitsPerPixel / 8;
            if (bytesPerPixel < 1 || bytesPerPixel > 4)
                return DECODE_UNSUPPORTED;
            return DecodeCopy(payload, available, bytesPerPixel, out);
        }
        case 1:
        case 3:
            return DecodeCoded(payload, available, options, out);
        default:
            return DECODE_UNSUPPORTED;
    }
}
