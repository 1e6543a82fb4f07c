#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/image_flip.h"

// `bgr` (width x height) with each pixel moved to its mirrored place, by coordinates: what
// every flip is checked against.
inline std::vector<uint8_t> Mirrored(const std::vector<uint8_t>& bgr, int width, int height,
                                     int flip) {
    std::vector<uint8_t> out(bgr.size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int toX = (flip & FLIP_HORIZONTAL) != 0 ? width - 1 - x : x;
            int toY = (flip & FLIP_VERTICAL) != 0 ? height - 1 - y : y;
            std::copy_n(&bgr[(static_cast<size_t>(y) * width + x) * 3], 3,
                        &out[(static_cast<size_t>(toY) * width + toX) * 3]);
        }
    }
    return out;
}
