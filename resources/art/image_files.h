#pragma once

#include <cstdint>
#include <vector>

#include "resources/art/canvas.h"

// The file formats the resource compiler takes: a 32-bit BI_RGB bitmap file and a one-image
// 32-bit icon.
std::vector<uint8_t> EncodeBitmapFile(const Canvas& canvas);
std::vector<uint8_t> EncodeIconFile(const Canvas& canvas);
