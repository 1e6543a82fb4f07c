// Arbitrary parameters and source bytes into EncodeFrame, with an output buffer of exactly
// MaxEncodedLength bytes; every unit the decoder covers must decode back to the source.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/decoder/round_trip_check.h"

namespace {

constexpr size_t kParamBytes = 12;
constexpr int kMaxImageWidth = 300;
constexpr int kMaxImageHeight = 24;

FrameCodecParams ParamsFrom(const uint8_t* d) {
    static const int kDepths[] = {24, 32, 8, 16};
    FrameCodecParams p{};
    p.marker = 0xFB;
    p.type = static_cast<uint8_t>(d[0] % 6);  // 5 must be rejected
    p.flags = d[1];
    p.bitsPerPixel = d[2] & 0x80 ? d[2] & 0x3F : kDepths[d[2] & 3];
    p.segmentPixels = d[3] == 0 ? 64 : d[3] == 255 ? 300 : d[3];
    p.imageWidth = 1 + (d[4] + (d[2] & 4 ? 256 : 0)) % kMaxImageWidth;
    p.imageHeight = 1 + d[5] % kMaxImageHeight;
    p.x = static_cast<uint16_t>(d[6] % p.imageWidth);
    p.y = static_cast<uint16_t>(d[7] % p.imageHeight);
    // Width and height 0 now and then, otherwise inside the image.
    p.width = static_cast<uint16_t>(d[8] == 0 ? 0 : 1 + d[8] % (p.imageWidth - p.x));
    p.height = static_cast<uint16_t>(d[9] == 0 ? 0 : 1 + d[9] % (p.imageHeight - p.y));
    if (d[2] & 8) {  // the whole image, as the sender asks
        p.x = p.y = 0;
        p.width = static_cast<uint16_t>(p.imageWidth);
        p.height = static_cast<uint16_t>(p.imageHeight);
    }
    p.headerSize = static_cast<uint8_t>(d[10] & 0x80 ? d[10] : 20 + d[10] % 8);
    p.tag = static_cast<uint16_t>(d[11] * 0x111);
    p.xAttr = p.yAttr = p.widthAttr = p.heightAttr = static_cast<uint8_t>(d[11] & 7);
    p.payloadAttr = static_cast<uint8_t>(d[11] >> 4);
    p.hdrByte17 = d[11];
    p.hdrByte18 = static_cast<uint8_t>(~d[11]);
    for (int i = 0; i < kMaxExtraHeaderBytes; ++i)
        p.extraHeader[i] = static_cast<uint8_t>(i);
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kParamBytes)
        return 0;
    const FrameCodecParams params = ParamsFrom(data);
    const bool blank = data[2] & 0x40;
    // The source is exactly the image, filled from the input over and over, so that a read
    // past it is caught.
    std::vector<uint8_t> source(SourceStride(params.imageWidth, params.bitsPerPixel) *
                                static_cast<size_t>(params.imageHeight));
    const size_t sourceBytes = size - kParamBytes;
    for (size_t i = 0; i < source.size() && sourceBytes > 0; ++i) {
        source[i] = data[kParamBytes + i % sourceBytes];
    }
    const RoundTripReport report = RunRoundTrip(params, blank ? nullptr : source.data());
    if (report.outcome == RoundTripOutcome::kFailed) {
        std::fprintf(stderr, "%s: %s\n", DescribeParams(params).c_str(), report.message.c_str());
        std::abort();
    }
    return 0;
}
