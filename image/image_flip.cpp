#include "image/image_flip.h"

#include <algorithm>
#include <cstddef>

void FlipPicture(uint8_t* bgr, int width, int height, int flip) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    if ((flip & FLIP_VERTICAL) != 0) {
        for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
            std::swap_ranges(bgr + top * rowBytes, bgr + (top + 1) * rowBytes,
                             bgr + bottom * rowBytes);
        }
    }
    if ((flip & FLIP_HORIZONTAL) != 0) {
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bgr + y * rowBytes;
            for (int left = 0, right = width - 1; left < right; ++left, --right) {
                std::swap_ranges(row + left * 3, row + left * 3 + 3, row + right * 3);
            }
        }
    }
}
