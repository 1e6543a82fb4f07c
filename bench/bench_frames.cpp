#include "bench/bench_frames.h"

#include <cstring>
#include <random>
#include <utility>

#include "image/image_file.h"

namespace {

// The frame's bytes in the file's order, red first, as the figures have always been measured.
bool ReadFrame(const std::string& path, std::vector<uint8_t>* rgb, std::string* error) {
    Image image;
    if (!ReadImage(path, &image, error)) {
        return false;
    }
    if (image.width != kBenchFrameWidth || image.height != kBenchFrameHeight) {
        *error = path + ": not 854 x 480";
        return false;
    }
    for (size_t i = 0; i + 2 < image.bgr.size(); i += 3) {
        std::swap(image.bgr[i], image.bgr[i + 2]);
    }
    *rgb = std::move(image.bgr);
    return true;
}

}  // namespace

const char* DefaultBenchDataDir() {
    return KV_BENCH_DATA_DIR;
}

bool LoadBenchFrames(const std::string& dataDir, std::vector<BenchFrame>* frames,
                     std::string* error) {
    frames->clear();
    // The desktops are programs drawn on Xvfb by scripts/capture-desktops.sh.
    const char* const kPictures[] = {
        "desktop_text",      "desktops/terminal",     "desktops/editor", "desktops/spreadsheet",
        "desktops/web_page", "desktops/file_manager", "desktops/game",   "photo",
    };
    for (const char* path : kPictures) {
        const char* slash = std::strrchr(path, '/');
        BenchFrame frame{slash != nullptr ? slash + 1 : path, {}};
        if (!ReadFrame(dataDir + "/" + path + ".png", &frame.bytes, error))
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
