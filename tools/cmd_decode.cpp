// kvusbtool decode IN.bin OUT.raw [--bpp N --segment-pixels N --blank]: one unit through
// DecodeFrame; OUT.raw gets the region's pixels, top row first, no row padding.
#include <cstdio>
#include <string>
#include <vector>

#include "codec/frame_decoder.h"
#include "platform/whole_file.h"
#include "tools/tool_command.h"

namespace {
constexpr const char* kCommand = "decode";
}  // namespace

int RunDecodeCommand(int argc, char** argv) {
    if (argc < 3)
        return ToolError(kCommand, kToolMisused, "needs IN.bin and OUT.raw");
    long bitsPerPixel = 24;
    long segmentPixels = 64;
    bool blank = false;
    const std::vector<ToolOption> options = {
        {"--bpp", &bitsPerPixel, 8, 32},
        {"--segment-pixels", &segmentPixels, 1, 256},
        {"--blank", nullptr, 0, 0, &blank},
    };
    std::string error;
    if (!ParseToolOptions(argc, argv, 3, options, &error)) {
        return ToolError(kCommand, kToolMisused, error);
    }
    std::vector<uint8_t> unit;
    if (!ReadWholeFile(argv[1], &unit, &error))
        return ToolError(kCommand, kToolFailed, error);

    DecodeOptions decodeOptions;
    decodeOptions.bitsPerPixel = static_cast<int>(bitsPerPixel);
    decodeOptions.segmentPixels = static_cast<int>(segmentPixels);
    decodeOptions.blankRegion = blank;
    DecodedRegion region;
    const DecodeResult result = DecodeFrame(unit.data(), unit.size(), decodeOptions, &region);
    if (result != DECODE_OK) {
        return ToolError(kCommand, kToolFailed,
                         std::string(argv[1]) + " does not decode: " + DecodeResultText(result));
    }
    if (!WriteWholeFile(argv[2], region.pixels.data(), region.pixels.size(), &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    const FrameHeader& h = region.header;
    std::printf("type %d, region (%d, %d) %d x %d, %d bytes a pixel, flags 0x%02X\n", h.type, h.x,
                h.y, h.width, h.height, region.bytesPerPixel, h.flags);
    return 0;
}
