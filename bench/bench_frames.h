#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The projector's frames the benchmarks compress: 854 x 480 pixels of 3 bytes, top-down.

inline constexpr int kBenchFrameWidth = 854;
inline constexpr int kBenchFrameHeight = 480;
inline constexpr size_t kBenchFrameBytes = size_t{kBenchFrameWidth} * kBenchFrameHeight * 3;

struct BenchFrame {
    std::string name;
    std::vector<uint8_t> bytes;  // kBenchFrameBytes
};

// The desktops of real programs and the photo from `dataDir` (PNG files), and random
// noise. False, with the reason in `error`, when an image is missing or not 854 x 480.
bool LoadBenchFrames(const std::string& dataDir, std::vector<BenchFrame>* frames,
                     std::string* error);

// Where the test images live in this source tree.
const char* DefaultBenchDataDir();
