#include <cstring>

#include "codec/encode_paths.h"

// Uncompressed payloads: the region's pixels as plain bytes.

int CopyPixels3(FrameCodecParams* p, const SourceImage& image, uint8_t* output) {
    uint8_t* to = output + p->headerSize;
    for (int r = p->y; r < p->y + p->height; ++r) {
        const uint8_t* from = image.Pixel(p->x, r);
        for (int c = 0; c < p->width; ++c, from += 4, to += 3)
            std::memcpy(to, from, 3);
    }
    return FinishBytes(p, output, to);
}

int CopyRows(FrameCodecParams* p, const SourceImage& image, uint8_t* output) {
    uint8_t* to = output + p->headerSize;
    const size_t rowBytes = static_cast<size_t>(p->width) * image.bytesPerPixel;
    for (int r = p->y; r < p->y + p->height; ++r, to += rowBytes) {
        std::memcpy(to, image.Pixel(p->x, r), rowBytes);
    }
    return FinishBytes(p, output, to);
}
