#pragma once

#include <cstdint>
#include <vector>

// A picture as the capture library delivers frames: 3 bytes a pixel in blue, green, red order,
// rows top first with no padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
};

// The longest side of a picture read from a file.
inline constexpr int kMaxImageDimension = 16384;
