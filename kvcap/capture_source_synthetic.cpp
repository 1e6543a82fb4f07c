#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/image_fit.h"
#include "image/image_flip.h"
#include "kvcap/capture_source.h"
#include "kvcap/kvcap_api.h"
#include "kvcap/synthetic_pattern.h"
#include "platform/debug_print.h"

// Synthetic sources for tests and the demo: the moving pattern, and a replay of image files.
// Neither draws a cursor: their frames must stay predictable.

namespace {

// The synthetic screen is nominally the projector's.
constexpr ScreenSize kSyntheticScreen = {854, 480, 24};

uint8_t Ramp(int position, int size) {
    return static_cast<uint8_t>(size > 1 ? position * 255 / (size - 1) : 0);
}

class PatternSource : public CaptureSource {
  public:
    explicit PatternSource(const CaptureGeometry& geometry) : m_geometry(geometry) {}

    int Grab(uint8_t* bgr) override {
        DrawSyntheticPattern(m_nextFrame++, m_geometry.width, m_geometry.height, bgr);
        FlipPicture(bgr, m_geometry.width, m_geometry.height, m_geometry.flip);
        return KVCAP_OK;
    }

  private:
    CaptureGeometry m_geometry;
    uint32_t m_nextFrame = 0;
};

// Knows, as a desktop source with damage reports does, when its picture repeats the last one.
class ReplaySource : public CaptureSource {
  public:
    explicit ReplaySource(std::vector<std::vector<uint8_t>> frames) : m_frames(std::move(frames)) {
        for (size_t i = 0; i < m_frames.size(); ++i) {
            m_repeatsLast.push_back(m_frames[i] ==
                                    m_frames[(i + m_frames.size() - 1) % m_frames.size()]);
        }
    }

    int Grab(uint8_t* bgr) override {
        size_t index = m_nextFrame;
        m_nextFrame = (m_nextFrame + 1) % m_frames.size();
        if (m_started && m_repeatsLast[index]) {
            return kGrabUnchanged;
        }
        std::memcpy(bgr, m_frames[index].data(), m_frames[index].size());
        m_started = true;
        return KVCAP_OK;
    }

  private:
    std::vector<std::vector<uint8_t>> m_frames;
    std::vector<bool> m_repeatsLast;  // picture i is picture i - 1's, the last before the first
    size_t m_nextFrame = 0;
    bool m_started = false;
};

std::unique_ptr<CaptureSource> OpenReplaySource(const CaptureSourceChoice& choice,
                                                const CaptureGeometry& geometry) {
    std::vector<std::vector<uint8_t>> frames;
    for (const std::string& path : choice.imagePaths) {
        Image image;
        std::string error;
        if (!ReadImageAs(path, choice.imageFormat, &image, &error)) {
            DebugPrint(" kvcap: cannot read image \"%s\"\n", path.c_str());
            return nullptr;
        }
        frames.push_back(ScaleImage(image, geometry.width, geometry.height).bgr);
        FlipPicture(frames.back().data(), geometry.width, geometry.height, geometry.flip);
    }
    return std::make_unique<ReplaySource>(std::move(frames));
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

ScreenSize SyntheticScreenSize() {
    return kSyntheticScreen;
}

std::unique_ptr<CaptureSource> OpenSyntheticSource(const CaptureSourceChoice& choice,
                                                   const CaptureGeometry& geometry) {
    if (choice.kind == CaptureSourceKind::Replay) {
        return OpenReplaySource(choice, geometry);
    }
    return std::make_unique<PatternSource>(geometry);
}
