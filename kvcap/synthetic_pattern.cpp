#include "kvcap/synthetic_pattern.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

uint8_t Ramp(int position, int size) {
    return static_cast<uint8_t>(size > 1 ? position * 255 / (size - 1) : 0);
}

}  // namespace

void DrawSyntheticPattern(uint32_t frameIndex, int width, int height, uint8_t* bgr) {
    int barStart = static_cast<int>(frameIndex * uint64_t{kPatternBarStep} % width);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    std::vector<bool> inBar(width);
    for (int x = 0; x < width; ++x) {
        inBar[x] = (x - barStart + width) % width < kPatternBarWidth;
        row[x * 3] = inBar[x] ? 0 : Ramp(x, width);
        row[x * 3 + 1] = 0;
        row[x * 3 + 2] = inBar[x] ? 255 : kPatternRed;
    }
    for (int y = 0; y < height; ++y) {
        uint8_t green = Ramp(y, height);
        for (int x = 0; x < width; ++x) {
            if (!inBar[x]) {
                row[x * 3 + 1] = green;
            }
        }
        std::memcpy(bgr + y * row.size(), row.data(), row.size());
    }
    size_t frameBytes = row.size() * height;
    uint32_t stamp[2] = {frameIndex, ~frameIndex};
    uint8_t stampBytes[kPatternStampBytes];
    for (int i = 0; i < kPatternStampBytes; ++i) {
        stampBytes[i] = static_cast<uint8_t>(stamp[i / 4] >> (8 * (i % 4)));
    }
    std::memcpy(bgr, stampBytes, std::min<size_t>(frameBytes, kPatternStampBytes));
}

bool ReadPatternStamp(const uint8_t* bgr, uint32_t* frameIndex) {
    uint32_t stamp[2] = {0, 0};
    for (int i = 0; i < kPatternStampBytes; ++i) {
        stamp[i / 4] |= static_cast<uint32_t>(bgr[i]) << (8 * (i % 4));
    }
    *frameIndex = stamp[0];
    return stamp[1] == ~stamp[0];
}
