#include "image/image_file.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/whole_file.h"

// The PNG coders of the stb headers (stb_codecs.c).
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace {

constexpr int kMaxSample = 255;
constexpr int kMaxHeaderDigits = 9;

bool FormatOfName(const std::string& path, ImageFormat* format) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    *format = extension == ".png" ? ImageFormat::Png : ImageFormat::Ppm;
    return extension == ".png" || extension == ".ppm";
}

// One decimal field of a PPM header after white space and comments; LONG_MAX when it has more
// digits than any size this reads.
bool ReadPpmNumber(const std::vector<uint8_t>& file, size_t* pos, long* value) {
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
    long number = 0;
    int digits = 0;
    for (; *pos < file.size() && std::isdigit(file[*pos]); ++*pos, ++digits) {
        number = digits < kMaxHeaderDigits ? number * 10 + (file[*pos] - '0') : LONG_MAX;
    }
    *value = number;
    return digits > 0;
}

// The file as the stb reader may be given it, in *checked: every chunk up to the end chunk
// lies within the file, and none is an empty data chunk, which adds nothing to the picture.
// The reader sizes its data buffer by a data chunk's stated length before reading it, so a
// small file that states a huge one would cost gigabytes; and it copies an empty first data
// chunk from a null pointer. False when a chunk runs past the end of the file.
bool CheckPngChunks(const std::vector<uint8_t>& file, std::vector<uint8_t>* checked) {
    constexpr size_t kSignatureBytes = 8;
    constexpr size_t kChunkFrameBytes = 12;  // length, type and CRC
    size_t pos = std::min(file.size(), kSignatureBytes);
    checked->assign(file.begin(), file.begin() + pos);
    while (pos < file.size()) {
        if (file.size() - pos < kChunkFrameBytes) {
            return false;
        }
        const uint64_t length = uint64_t{file[pos]} << 24 | uint64_t{file[pos + 1]} << 16 |
                                uint64_t{file[pos + 2]} << 8 | file[pos + 3];
        if (length > file.size() - pos - kChunkFrameBytes) {
            return false;
        }
        const char* type = reinterpret_cast<const char*>(&file[pos + 4]);
        const size_t chunk = kChunkFrameBytes + length;
        if (length != 0 || std::memcmp(type, "IDAT", 4) != 0) {
            checked->insert(checked->end(), file.begin() + pos, file.begin() + pos + chunk);
        }
        pos += chunk;
        if (std::memcmp(type, "IEND", 4) == 0) {
            break;  // what follows is no part of the picture
        }
    }
    return true;
}

bool DecodePng(const std::vector<uint8_t>& original, Image* image, std::string* error) {
    std::vector<uint8_t> file;
    const bool chunksFit = CheckPngChunks(original, &file);
    const auto* bytes = file.data();
    const int length = file.size() < INT_MAX ? static_cast<int>(file.size()) : INT_MAX;
    int width = 0;
    int height = 0;
    int channels = 0;
    // stb reads an empty file from a null pointer.
    if (file.empty() || !stbi_info_from_memory(bytes, length, &width, &height, &channels)) {
        *error = std::string("not a readable PNG file: ") +
                 (file.empty() ? "empty" : stbi_failure_reason());
        return false;
    }
    if (!chunksFit) {
        *error = "corrupt PNG file: a chunk runs past the end of the file";
        return false;
    }
    if (width > kMaxImageDimension || height > kMaxImageDimension) {
        *error = "PNG image too large: " + std::to_string(width) + " x " + std::to_string(height);
        return false;
    }
    // Grey, grey with alpha, colour or colour with alpha, 8 bits a sample.
    std::unique_ptr<uint8_t, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes, length, &width, &height, &channels, 0), stbi_image_free);
    if (!pixels) {
        *error = std::string("corrupt PNG file: ") + stbi_failure_reason();
        return false;
    }
    const bool colour = channels >= 3;
    const bool alpha = channels == 2 || channels == 4;
    Image decoded{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    const uint8_t* in = pixels.get();
    for (size_t i = 0; i < decoded.bgr.size(); i += 3, in += channels) {
        const int opacity = alpha ? in[channels - 1] : kMaxSample;
        for (int c = 0; c < 3; ++c) {
            const int sample = in[colour ? 2 - c : 0];
            decoded.bgr[i + c] =
                static_cast<uint8_t>((sample * opacity + kMaxSample / 2) / kMaxSample);
        }
    }
    *image = std::move(decoded);
    return true;
}

void AppendBytes(void* context, void* data, int size) {
    auto* file = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    file->insert(file->end(), bytes, bytes + size);
}

bool EncodePng(const Image& image, std::vector<uint8_t>* file, std::string* error) {
    std::vector<uint8_t> rgb(image.bgr);
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        std::swap(rgb[i], rgb[i + 2]);
    }
    file->clear();
    if (!stbi_write_png_to_func(AppendBytes, file, image.width, image.height, 3, rgb.data(),
                                image.width * 3)) {
        *error = "cannot encode PNG";
        return false;
    }
    return true;
}

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

bool DecodePpm(const std::vector<uint8_t>& file, Image* image, std::string* error) {
    size_t pos = 2;
    long width = 0;
    long height = 0;
    long maxValue = 0;
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6' || !ReadPpmNumber(file, &pos, &width) ||
        !ReadPpmNumber(file, &pos, &height) || !ReadPpmNumber(file, &pos, &maxValue) ||
        pos >= file.size() || !std::isspace(file[pos])) {
        *error = "not a binary PPM (P6) file";
        return false;
    }
    ++pos;  // the one white-space byte before the samples
    if (width < 1 || height < 1 || width > kMaxImageDimension || height > kMaxImageDimension ||
        maxValue < 1 || maxValue > kMaxSample) {
        *error = "unsupported PPM: " + std::to_string(width) + " x " + std::to_string(height) +
                 ", maximum value " + std::to_string(maxValue) + " (8-bit only)";
        return false;
    }
    const size_t sampleCount = static_cast<size_t>(width) * height * 3;
    if (file.size() - pos < sampleCount) {
        *error = "PPM file is truncated";
        return false;
    }
    Image decoded{static_cast<int>(width), static_cast<int>(height),
                  std::vector<uint8_t>(sampleCount)};
    const uint8_t* rgb = file.data() + pos;
    for (size_t i = 0; i < sampleCount; i += 3) {
        for (size_t c = 0; c < 3; ++c) {
            const long sample = std::min<long>(rgb[i + 2 - c], maxValue);
            decoded.bgr[i + c] = static_cast<uint8_t>(sample * kMaxSample / maxValue);
        }
    }
    *image = std::move(decoded);
    return true;
}

bool DecodeImage(const std::vector<uint8_t>& file, ImageFormat format, Image* image,
                 std::string* error) {
    return format == ImageFormat::Png ? DecodePng(file, image, error)
                                      : DecodePpm(file, image, error);
}

bool ImageFormatSupported(const std::string& path, std::string* error) {
    ImageFormat format;
    if (!FormatOfName(path, &format)) {
        *error = "the name must end in .png or .ppm";
        return false;
    }
    return true;
}

bool ReadImageAs(const std::string& path, ImageFormat format, Image* image, std::string* error) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, &file, error)) {
        return false;
    }
    std::string reason;
    const bool decoded = DecodeImage(file, format, image, &reason);
    if (!decoded) {
        *error = path + ": " + reason;
    }
    return decoded;
}

bool ReadImage(const std::string& path, Image* image, std::string* error) {
    ImageFormat format;
    if (!FormatOfName(path, &format)) {
        *error = path + ": the name must end in .png or .ppm";
        return false;
    }
    return ReadImageAs(path, format, image, error);
}

bool WriteImage(const std::string& path, const Image& image, std::string* error) {
    ImageFormat format;
    if (!FormatOfName(path, &format)) {
        *error = path + ": the name must end in .png or .ppm";
        return false;
    }
    std::vector<uint8_t> file;
    std::string reason;
    if (format == ImageFormat::Png && !EncodePng(image, &file, &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    if (format == ImageFormat::Ppm) {
        EncodePpm(image, &file);
    }
    return WriteFileAtomically(path, file.data(), file.size(), error);
}
