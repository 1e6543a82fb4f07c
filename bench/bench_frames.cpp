#include "bench/bench_frames.h"

#include <png.h>

#include <random>

namespace {

bool ReadPng(const std::string& path, std::vector<uint8_t>* rgb, std::string* error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        *error = path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    if (image.width != kBenchFrameWidth || image.height != kBenchFrameHeight) {
        png_image_free(&image);
        *error = path + ": not 854 x 480";
        return false;
    }
    rgb->resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) == 0) {
        *error = path + ": " + image.message;
        return false;
    }
    return true;
}

}  // namespace

const char* DefaultBenchDataDir() {
    return KV_BENCH_DATA_DIR;
}

bool LoadBenchFrames(const std::string& dataDir, std::vector<BenchFrame>* frames,
                     std::string* error) {
    frames->clear();
    for (const char* name : {"desktop_text", "photo"}) {
        BenchFrame frame{name, {}};
        if (!ReadPng(dataDir + "/" + name + ".png", &frame.bytes, error))
            return false;
        frames->push_back(std::move(frame));
    }
    BenchFrame noise{"noise", std::vector<uint8_t>(kBenchFrameBytes)};
    std::mt19937 rng(854480);
    for (uint8_t& b : noise.bytes)
        b = static_cast<uint8_t>(rng() >> 24);
    frames->push_back(std::move(noise));
    return true;
}
