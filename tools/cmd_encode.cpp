// kvusbtool encode IN.raw OUT.bin [options]: one image region through EncodeFrame. IN.raw is
// the source image as the encoder reads it: imageHeight rows of imageWidth pixels, each row
// padded to a multiple of 4 bytes, top row first when flags bit 0 is set and last otherwise.
// The defaults describe the sender's slices.
#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "platform/whole_file.h"
#include "tools/tool_command.h"

namespace {

constexpr const char* kCommand = "encode";
constexpr long kMaxRegionSide = 0x1FFF;  // the header's 13-bit fields

struct EncodeSettings {
    long marker = kFrameMarker, headerSize = kFrameHeaderBytes, tag = 0, type = 1;
    long x = 0, xAttr = 0, y = 0, yAttr = 0;
    long width = 1024, widthAttr = 2, height = 21, heightAttr = 0, payloadAttr = 0;
    long flags = 0x31, hdrByte17 = 0, hdrByte18 = 4, spare = 0;
    long imageWidth = -1, imageHeight = -1;  // -1: the region's size
    long bitsPerPixel = 24, segmentPixels = 64, offset = 0;
    std::string extraHeader;  // hex digits
};

std::vector<ToolOption> EncodeOptions(EncodeSettings* s) {
    return {
        {"--marker", &s->marker, 0, 255},
        {"--header-size", &s->headerSize, kFrameHeaderBytes, 255},
        {"--tag", &s->tag, 0, 0x0FFF},
        {"--type", &s->type, 0, 4},
        {"--x", &s->x, 0, kMaxRegionSide},
        {"--x-attr", &s->xAttr, 0, 7},
        {"--y", &s->y, 0, kMaxRegionSide},
        {"--y-attr", &s->yAttr, 0, 7},
        {"--width", &s->width, 1, kMaxRegionSide},
        {"--width-attr", &s->widthAttr, 0, 7},
        {"--height", &s->height, 1, kMaxRegionSide},
        {"--height-attr", &s->heightAttr, 0, 7},
        {"--payload-attr", &s->payloadAttr, 0, 15},
        {"--flags", &s->flags, 0, 255},
        {"--hdr-byte17", &s->hdrByte17, 0, 255},
        {"--hdr-byte18", &s->hdrByte18, 0, 255},
        {"--spare", &s->spare, 0, 255},
        {"--image-width", &s->imageWidth, 1, 65535},
        {"--image-height", &s->imageHeight, 1, 65535},
        {"--bpp", &s->bitsPerPixel, 8, 32},
        {"--segment-pixels", &s->segmentPixels, 1, 256},
        {"--offset", &s->offset, 0, 0x7FFFFFFF},
        {"--extra-header", nullptr, 0, 0, nullptr, &s->extraHeader},
    };
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string digits = text.substr(i, 2);
        if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        bytes->push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
    }
    return true;
}

// Checks what the options cannot check one by one and fills the record.
bool BuildParams(const EncodeSettings& s, FrameCodecParams* params, std::string* error) {
    if (s.bitsPerPixel % 8 != 0) {
        *error = "--bpp must be 8, 16, 24 or 32";
        return false;
    }
    const long imageWidth = s.imageWidth < 0 ? s.width : s.imageWidth;
    const long imageHeight = s.imageHeight < 0 ? s.height : s.imageHeight;
    if (s.x + s.width > imageWidth || s.y + s.height > imageHeight) {
        *error = "the region (" + std::to_string(s.x) + ", " + std::to_string(s.y) + ") " +
                 std::to_string(s.width) + " x " + std::to_string(s.height) +
                 " does not lie inside the " + std::to_string(imageWidth) + " x " +
                 std::to_string(imageHeight) + " image";
        return false;
    }
    std::vector<uint8_t> extra;
    if (!ParseHexBytes(s.extraHeader, &extra) ||
        extra.size() > static_cast<size_t>(s.headerSize - kFrameHeaderBytes)) {
        *error = "--extra-header must be at most header size - 20 bytes in hex digits";
        return false;
    }
    *params = FrameCodecParams{};
    params->marker = static_cast<uint8_t>(s.marker);
    params->headerSize = static_cast<uint8_t>(s.headerSize);
    params->tag = static_cast<uint16_t>(s.tag);
    params->type = static_cast<uint8_t>(s.type);
    params->x = static_cast<uint16_t>(s.x);
    params->xAttr = static_cast<uint8_t>(s.xAttr);
    params->y = static_cast<uint16_t>(s.y);
    params->yAttr = static_cast<uint8_t>(s.yAttr);
    params->width = static_cast<uint16_t>(s.width);
    params->widthAttr = static_cast<uint8_t>(s.widthAttr);
    params->height = static_cast<uint16_t>(s.height);
    params->heightAttr = static_cast<uint8_t>(s.heightAttr);
    params->payloadAttr = static_cast<uint8_t>(s.payloadAttr);
    params->flags = static_cast<uint8_t>(s.flags);
    params->hdrByte17 = static_cast<uint8_t>(s.hdrByte17);
    params->hdrByte18 = static_cast<uint8_t>(s.hdrByte18);
    params->spare = static_cast<uint8_t>(s.spare);
    params->imageWidth = static_cast<int32_t>(imageWidth);
    params->imageHeight = static_cast<int32_t>(imageHeight);
    params->bitsPerPixel = static_cast<int32_t>(s.bitsPerPixel);
    params->segmentPixels = static_cast<int32_t>(s.segmentPixels);
    for (size_t i = 0; i < extra.size(); ++i)
        params->extraHeader[i] = extra[i];
    return true;
}

}  // namespace

int RunEncodeCommand(int argc, char** argv) {
    if (argc < 3)
        return ToolError(kCommand, kToolMisused, "needs IN.raw and OUT.bin");
    EncodeSettings settings;
    std::string error;
    FrameCodecParams params;
    if (!ParseToolOptions(argc, argv, 3, EncodeOptions(&settings), &error) ||
        !BuildParams(settings, &params, &error)) {
        return ToolError(kCommand, kToolMisused, error);
    }
    std::vector<uint8_t> file;
    if (!ReadWholeFile(argv[1], &file, &error))
        return ToolError(kCommand, kToolFailed, error);

    const size_t stride =
        (static_cast<size_t>(params.imageWidth) * static_cast<size_t>(params.bitsPerPixel / 8) +
         3) /
        4 * 4;
    const size_t imageBytes = stride * static_cast<size_t>(params.imageHeight);
    const size_t offset = static_cast<size_t>(settings.offset);
    // The whole file is the image, or with --offset the image is cut out of a larger file.
    const bool sizeFits =
        settings.offset > 0 ? file.size() >= offset + imageBytes : file.size() == imageBytes;
    if (!sizeFits) {
        return ToolError(
            kCommand, kToolFailed,
            std::string(argv[1]) + " holds " + std::to_string(file.size()) + " bytes; a " +
                std::to_string(params.imageWidth) + " x " + std::to_string(params.imageHeight) +
                " image of " + std::to_string(params.bitsPerPixel) + " bits per pixel takes " +
                std::to_string(imageBytes) + (settings.offset > 0 ? " after the offset" : ""));
    }
    const size_t capacity = MaxEncodedLength(params, true);
    if (capacity == 0) {
        return ToolError(kCommand, kToolMisused, "the encoder does not take these parameters");
    }
    std::vector<uint8_t> output(capacity);
    int outLength = 0;
    if (!EncodeFrame(&params, file.data() + offset, output.data(), &outLength)) {
        return ToolError(kCommand, kToolFailed, "the encoder rejected the request");
    }
    if (!WriteWholeFile(argv[2], output.data(), static_cast<size_t>(outLength), &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    std::printf("%d bytes (payload %d)\n", outLength, params.payloadSize);
    return 0;
}
