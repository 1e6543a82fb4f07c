#include "resources/art/image_files.h"

#include <cstddef>

namespace {

constexpr uint32_t FILE_HEADER_SIZE = 14;
constexpr uint32_t INFO_HEADER_SIZE = 40;
constexpr uint32_t ICON_DIRECTORY_SIZE = 6 + 16;
constexpr int32_t PIXELS_PER_METRE_96_DPI = 3780;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// BITMAPINFOHEADER of a 32-bit bottom-up image; icons give twice the height (image and mask).
void PutInfoHeader(std::vector<uint8_t>& out, const Canvas& canvas, int32_t height,
                   uint32_t imageSize) {
    Put32(out, INFO_HEADER_SIZE);
    Put32(out, static_cast<uint32_t>(canvas.Width()));
    Put32(out, static_cast<uint32_t>(height));
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, 0);   // BI_RGB
    Put32(out, imageSize);
    Put32(out, PIXELS_PER_METRE_96_DPI);
    Put32(out, PIXELS_PER_METRE_96_DPI);
    Put32(out, 0);  // colours used
    Put32(out, 0);  // colours important
}

void PutPixelsBottomUp(std::vector<uint8_t>& out, const Canvas& canvas) {
    const std::vector<uint8_t> bgra = canvas.Bgra();
    const size_t rowBytes = static_cast<size_t>(canvas.Width()) * 4;
    for (int y = canvas.Height() - 1; y >= 0; --y) {
        const auto row = bgra.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        out.insert(out.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
}

}  // namespace

std::vector<uint8_t> EncodeBitmapFile(const Canvas& canvas) {
    const uint32_t imageSize = static_cast<uint32_t>(canvas.Width() * canvas.Height() * 4);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, FILE_HEADER_SIZE + INFO_HEADER_SIZE + imageSize);
    Put32(out, 0);  // reserved
    Put32(out, FILE_HEADER_SIZE + INFO_HEADER_SIZE);
    PutInfoHeader(out, canvas, canvas.Height(), imageSize);
    PutPixelsBottomUp(out, canvas);
    return out;
}

std::vector<uint8_t> EncodeIconFile(const Canvas& canvas) {
    const uint32_t maskRowBytes = ((static_cast<uint32_t>(canvas.Width()) + 31) / 32) * 4;
    const uint32_t colourSize = static_cast<uint32_t>(canvas.Width() * canvas.Height() * 4);
    const uint32_t maskSize = maskRowBytes * static_cast<uint32_t>(canvas.Height());
    const uint32_t imageSize = INFO_HEADER_SIZE + colourSize + maskSize;

    std::vector<uint8_t> out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon
    Put16(out, 1);  // one image
    out.push_back(static_cast<uint8_t>(canvas.Width()));
    out.push_back(static_cast<uint8_t>(canvas.Height()));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, imageSize);
    Put32(out, ICON_DIRECTORY_SIZE);

    PutInfoHeader(out, canvas, canvas.Height() * 2, colourSize + maskSize);
    PutPixelsBottomUp(out, canvas);
    // The mask marks fully transparent pixels, for readers that ignore the alpha channel.
    const std::vector<uint8_t> bgra = canvas.Bgra();
    for (int y = canvas.Height() - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskRowBytes, 0);
        for (int x = 0; x < canvas.Width(); ++x) {
            if (bgra[(static_cast<size_t>(y) * canvas.Width() + x) * 4 + 3] == 0) {
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}
