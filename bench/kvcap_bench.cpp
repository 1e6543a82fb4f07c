// What one frame costs each source, grabbed back to back without the rate limit.
//   kvcap_bench                       the default cases of this platform
//   kvcap_bench SOURCE WIDTH HEIGHT   one case; SOURCE as in VORN_KVUSB_CAPTURE
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kvcap/capture_source.h"

namespace {

constexpr int kWarmUpFrames = 3;
constexpr int kTimedFrames = 100;

struct BenchCase {
    std::string source;
    int width;
    int height;
};

const char* KindName(CaptureSourceKind kind) {
    switch (kind) {
        case CaptureSourceKind::Desktop:
            return "desktop";
        case CaptureSourceKind::Gdi:
            return "gdi";
        case CaptureSourceKind::Pattern:
            return "pattern";
        case CaptureSourceKind::Replay:
            return "replay";
    }
    return "";
}

bool RunCase(const BenchCase& bench) {
    CaptureSourceChoice choice;
    if (!ParseCaptureSourceChoice(bench.source, &choice)) {
        std::fprintf(stderr, "not a capture source: %s\n", bench.source.c_str());
        return false;
    }
    CaptureGeometry geometry{bench.width, bench.height, true};
    std::unique_ptr<CaptureSource> source = IsSyntheticSource(choice)
                                                ? OpenSyntheticSource(choice, geometry)
                                                : OpenDesktopSource(choice, geometry);
    if (!source) {
        std::fprintf(stderr, "cannot open %s\n", bench.source.c_str());
        return false;
    }
    std::vector<uint8_t> frame(static_cast<size_t>(bench.width) * bench.height * 3);
    std::vector<double> costs;
    for (int i = 0; i < kWarmUpFrames + kTimedFrames; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (source->Grab(frame.data()) != 0) {
            std::fprintf(stderr, "%s: frame %d failed\n", bench.source.c_str(), i);
            return false;
        }
        if (i >= kWarmUpFrames) {
            costs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    std::sort(costs.begin(), costs.end());
    double total = 0;
    for (double cost : costs) {
        total += cost;
    }
    std::printf("%-8s %4dx%-4d mean %7.2f ms  median %7.2f ms  max %7.2f ms  (%.0f frames/s)\n",
                KindName(choice.kind), bench.width, bench.height, total / costs.size(),
                costs[costs.size() / 2], costs.back(), 1000.0 * costs.size() / total);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<BenchCase> cases;
    if (argc == 4) {
        cases.push_back({argv[1], std::atoi(argv[2]), std::atoi(argv[3])});
    } else {
        cases = {{"synthetic", 854, 480}, {"synthetic", 1136, 480}, {"synthetic", 854, 848}};
        std::string data = KV_TEST_DATA_DIR;
        cases.push_back({"synthetic:png=" + data + "/photo.png", 1136, 480});
        cases.push_back({"synthetic:ppm=" + data + "/photo_crop.ppm", 854, 480});
#if defined(_WIN32)
        cases.push_back({"gdi", 854, 480});
        cases.push_back({"desktop", 854, 480});
#endif
    }
    bool ok = true;
    for (const BenchCase& bench : cases) {
        ok = RunCase(bench) && ok;
    }
    return ok ? 0 : 1;
}
