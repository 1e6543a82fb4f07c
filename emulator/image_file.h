#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pictures as the capture library delivers them: 3 bytes a pixel in B, G, R order, rows top
// first with no padding. Files hold R, G, B as their formats require.

namespace emu {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
};

// The format follows the name: .png (builds with libpng) or .ppm (binary P6, always).
// False, with a reason, when this build cannot handle the name.
bool ImageFormatSupported(const std::string& path, std::string* error);

bool ReadImage(const std::string& path, Image* image, std::string* error);

// Writes to a temporary file beside `path` and renames it, so a reader never sees half a file.
bool WriteImage(const std::string& path, const Image& image, std::string* error);

// Replaces `path` with `contents` the same way.
bool WriteFileAtomically(const std::string& path, const void* contents, size_t length,
                         std::string* error);

}  // namespace emu
