// Arbitrary bytes into the decoder. Byte 0 picks the source depth and the blank-region
// option, byte 1 the segment length; the rest is the unit.
#include <cstdint>
#include <cstdlib>

#include "codec/frame_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    static const int kDepths[] = {24, 32, 8, 16};
    DecodeOptions options;
    options.bitsPerPixel = kDepths[data[0] & 3];
    options.blankRegion = data[0] & 4;
    options.segmentPixels = data[0] & 8 ? 64 : 1 + data[1];
    DecodedRegion region;
    if (DecodeFrame(data + 2, size - 2, options, &region) == DECODE_OK) {
        const size_t expected =
            size_t{region.header.width} * region.header.height * region.bytesPerPixel;
        if (region.pixels.size() != expected)
            std::abort();
    }
    return 0;
}
