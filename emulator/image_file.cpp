#include "emulator/image_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#if defined(KV_HAVE_PNG)
#include <png.h>
#endif

namespace emu {
namespace {

constexpr int kMaxDimension = 16384;

enum class ImageFormat { Png, Ppm, Unknown };

ImageFormat FormatOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension == ".png") {
        return ImageFormat::Png;
    }
    return extension == ".ppm" ? ImageFormat::Ppm : ImageFormat::Unknown;
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* contents, std::string* error) {
    File file(fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    contents->clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        contents->insert(contents->end(), chunk, chunk + got);
    }
    if (ferror(file.get())) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

void SwapRedBlue(std::vector<uint8_t>* pixels) {
    for (size_t i = 0; i + 2 < pixels->size(); i += 3) {
        std::swap((*pixels)[i], (*pixels)[i + 2]);
    }
}

// P6 header: magic, width, height, maximum value, each after white space and comments.
bool ParsePpm(const std::vector<uint8_t>& file, Image* image, std::string* error) {
    size_t pos = 2;
    auto nextNumber = [&](long* value) {
        while (pos < file.size()) {
            if (file[pos] == '#') {
                while (pos < file.size() && file[pos] != '\n') {
                    ++pos;
                }
            } else if (std::isspace(file[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        long number = 0;
        size_t digits = 0;
        while (pos < file.size() && std::isdigit(file[pos]) && digits < 9) {
            number = number * 10 + (file[pos++] - '0');
            ++digits;
        }
        *value = number;
        return digits > 0;
    };
    long width = 0;
    long height = 0;
    long maxValue = 0;
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6' || !nextNumber(&width) ||
        !nextNumber(&height) || !nextNumber(&maxValue) || pos >= file.size() ||
        !std::isspace(file[pos])) {
        *error = "not a binary PPM (P6) file";
        return false;
    }
    ++pos;  // the one white-space byte before the pixels
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension ||
        maxValue != 255) {
        *error = "unsupported PPM: " + std::to_string(width) + " x " + std::to_string(height) +
                 ", maximum value " + std::to_string(maxValue) + " (8-bit only)";
        return false;
    }
    size_t bytes = static_cast<size_t>(width) * height * 3;
    if (file.size() - pos < bytes) {
        *error = "PPM file is truncated";
        return false;
    }
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->bgr.assign(file.begin() + static_cast<ptrdiff_t>(pos),
                      file.begin() + static_cast<ptrdiff_t>(pos + bytes));
    SwapRedBlue(&image->bgr);
    return true;
}

#if defined(KV_HAVE_PNG)
bool ParsePng(const std::vector<uint8_t>& file, Image* image, std::string* error) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, file.data(), file.size())) {
        *error = std::string("not a readable PNG file: ") + png.message;
        return false;
    }
    if (png.width > kMaxDimension || png.height > kMaxDimension) {
        png_image_free(&png);
        *error = "PNG image too large: " + std::to_string(png.width) + " x " +
                 std::to_string(png.height);
        return false;
    }
    png.format = PNG_FORMAT_BGR;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    png_color black = {0, 0, 0};  // transparent parts end up black, as on the projector
    if (!png_image_finish_read(&png, &black, pixels.data(), 0, nullptr)) {
        *error = std::string("corrupt PNG file: ") + png.message;
        return false;
    }
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->bgr = std::move(pixels);
    return true;
}

bool EncodePng(const Image& image, std::vector<uint8_t>* file, std::string* error) {
    png_image png;
    memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_BGR;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(png, size, 0, image.bgr.data(), 0, nullptr)) {
        *error = std::string("cannot encode PNG: ") + png.message;
        return false;
    }
    file->resize(size);
    if (!png_image_write_to_memory(&png, file->data(), &size, 0, image.bgr.data(), 0, nullptr)) {
        *error = std::string("cannot encode PNG: ") + png.message;
        return false;
    }
    file->resize(size);
    return true;
}
#endif

void EncodePpm(const Image& image, std::vector<uint8_t>* file) {
    std::string header =
        "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    file->assign(header.begin(), header.end());
    size_t start = file->size();
    file->insert(file->end(), image.bgr.begin(), image.bgr.end());
    for (size_t i = start; i + 2 < file->size(); i += 3) {
        std::swap((*file)[i], (*file)[i + 2]);
    }
}

}  // namespace

bool ImageFormatSupported(const std::string& path, std::string* error) {
    switch (FormatOf(path)) {
        case ImageFormat::Ppm:
            return true;
        case ImageFormat::Png:
#if defined(KV_HAVE_PNG)
            return true;
#else
            *error = "this build has no PNG support; use a .ppm name";
            return false;
#endif
        case ImageFormat::Unknown:
            break;
    }
    *error = "the name must end in .png or .ppm";
    return false;
}

bool ReadImage(const std::string& path, Image* image, std::string* error) {
    std::string reason;
    std::vector<uint8_t> file;
    if (!ImageFormatSupported(path, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    if (!ReadWholeFile(path, &file, error)) {
        return false;
    }
    bool parsed = false;
#if defined(KV_HAVE_PNG)
    if (FormatOf(path) == ImageFormat::Png) {
        parsed = ParsePng(file, image, &reason);
    } else
#endif
    {
        parsed = ParsePpm(file, image, &reason);
    }
    if (!parsed) {
        *error = path + ": " + reason;
    }
    return parsed;
}

bool WriteImage(const std::string& path, const Image& image, std::string* error) {
    std::string reason;
    if (!ImageFormatSupported(path, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    std::vector<uint8_t> file;
#if defined(KV_HAVE_PNG)
    if (FormatOf(path) == ImageFormat::Png) {
        if (!EncodePng(image, &file, &reason)) {
            *error = path + ": " + reason;
            return false;
        }
    } else
#endif
    {
        EncodePpm(image, &file);
    }
    return WriteFileAtomically(path, file.data(), file.size(), error);
}

bool WriteFileAtomically(const std::string& path, const void* contents, size_t length,
                         std::string* error) {
    std::string temporary = path + ".tmp";
    File file(fopen(temporary.c_str(), "wb"));
    if (!file) {
        *error = "cannot create " + temporary + ": " + strerror(errno);
        return false;
    }
    bool written = fwrite(contents, 1, length, file.get()) == length;
    written = fclose(file.release()) == 0 && written;
    std::error_code renameError;
    if (written) {
        std::filesystem::rename(temporary, path, renameError);
    }
    if (!written || renameError) {
        *error = "cannot write " + path + ": " +
                 (written ? renameError.message() : std::string(strerror(errno)));
        std::filesystem::remove(temporary, renameError);
        return false;
    }
    return true;
}

}  // namespace emu
