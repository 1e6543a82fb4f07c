#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kvcap/capture_source_choice.h"

// A picture in the library's pixel order: packed rows, top first, blue, green, red.
struct BgrImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

inline constexpr int kMaxImageDimension = 16384;

// Reads a binary PPM (P6, 8-bit samples) or, in builds with libpng, a PNG. False when the
// file cannot be read, is malformed or is larger than kMaxImageDimension either way.
bool LoadImageFile(const std::string& path, ImageFormat format, BgrImage* image);

// Parses binary PPM text held in memory.
bool DecodePpm(const std::vector<uint8_t>& file, BgrImage* image);
