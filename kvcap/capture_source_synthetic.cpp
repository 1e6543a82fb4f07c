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
