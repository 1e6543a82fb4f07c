#include "kvcap/image_file.h"

#include <cctype>
#include <cstdio>
#include <utility>

#if defined(KVCAP_HAVE_PNG)
#include <png.h>
#endif

namespace {

constexpr int kMaxPpmSample = 255;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    data->clear();
    uint8_t chunk[65536];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        data->insert(data->end(), chunk, chunk + count);
    }
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// Reads one decimal header field of a PPM, skipping blanks and comments before it.
bool ReadPpmNumber(const std::vector<uint8_t>& file, size_t* pos, int limit, int* value) {
    while (*pos < file.size()) {
        if (file[*pos] == '#') {
            while (*pos < file.size() && file[*pos] != '\n') {
                ++*pos;
            }
        } else if (std::isspace(file[*pos])) {
            ++*pos;
        } else {
            break;
        }
    }
    int number = 0;
    size_t start = *pos;
    while (*pos < file.size() && std::isdigit(file[*pos])) {
        number = number * 10 + (file[*pos] - '0');
        if (number > limit) {
            return false;
        }
        ++*pos;
    }
    *value = number;
    return *pos > start && number > 0;
}

#if defined(KVCAP_HAVE_PNG)
bool LoadPng(const std::string& path, BgrImage* image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return false;
    }
    if (png.width > kMaxImageDimension || png.height > kMaxImageDimension) {
        png_image_free(&png);
        return false;
    }
    png.format = PNG_FORMAT_BGR;
    BgrImage decoded;
    decoded.width = static_cast<int>(png.width);
    decoded.height = static_cast<int>(png.height);
    decoded.pixels.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, decoded.pixels.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    *image = std::move(decoded);
    return true;
}
#endif

}  // namespace

bool DecodePpm(const std::vector<uint8_t>& file, BgrImage* image) {
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6') {
        return false;
    }
    size_t pos = 2;
    int width, height, maxValue;
    if (!ReadPpmNumber(file, &pos, kMaxImageDimension, &width) ||
        !ReadPpmNumber(file, &pos, kMaxImageDimension, &height) ||
        !ReadPpmNumber(file, &pos, kMaxPpmSample, &maxValue)) {
        return false;
    }
    // Exactly one blank ends the header; the samples follow.
    if (pos >= file.size() || !std::isspace(file[pos])) {
        return false;
    }
    ++pos;
    size_t sampleCount = static_cast<size_t>(width) * height * 3;
    if (file.size() - pos < sampleCount) {
        return false;
    }
    BgrImage decoded;
    decoded.width = width;
    decoded.height = height;
    decoded.pixels.resize(sampleCount);
    const uint8_t* rgb = file.data() + pos;
    for (size_t i = 0; i < sampleCount; i += 3) {
        for (size_t c = 0; c < 3; ++c) {
            int sample = rgb[i + 2 - c] > maxValue ? maxValue : rgb[i + 2 - c];
            decoded.pixels[i + c] = static_cast<uint8_t>(sample * 255 / maxValue);
        }
    }
    *image = std::move(decoded);
    return true;
}

bool LoadImageFile(const std::string& path, ImageFormat format, BgrImage* image) {
    if (format == ImageFormat::Png) {
#if defined(KVCAP_HAVE_PNG)
        return LoadPng(path, image);
#else
        return false;
#endif
    }
    std::vector<uint8_t> file;
    return ReadWholeFile(path, &file) && DecodePpm(file, image);
}
