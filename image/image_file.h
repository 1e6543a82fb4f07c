#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"

// Picture files, PNG and binary PPM (P6), in every build. Files hold red, green, blue as their
// formats require; pictures in memory are blue, green, red (image.h).

enum class ImageFormat { Png, Ppm };

// The format a file name asks for: .png or .ppm, in either case. False, with the reason, for
// any other name.
bool ImageFormatSupported(const std::string& path, std::string* error);

// The format follows the name. PNG's transparent parts come out over black, as the projector
// would show them; a PPM's samples below 255 are scaled to 8 bits. False, with the reason.
bool ReadImage(const std::string& path, Image* image, std::string* error);
// The same, in the format given whatever the name.
bool ReadImageAs(const std::string& path, ImageFormat format, Image* image, std::string* error);

// Writes to a temporary file beside `path` and renames it, so a reader never sees half a file.
bool WriteImage(const std::string& path, const Image& image, std::string* error);

// A file held in memory, in `format`; `image` is left alone on failure.
bool DecodeImage(const std::vector<uint8_t>& file, ImageFormat format, Image* image,
                 std::string* error);
// A binary PPM held in memory; `image` is left alone on failure.
bool DecodePpm(const std::vector<uint8_t>& file, Image* image, std::string* error);
