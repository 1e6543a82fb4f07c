#include "bench/frame_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "bench/bench_frames.h"
#include "codec/segment_kernels.h"

namespace {

const BenchResult* Find(const std::vector<BenchResult>& results, const std::string& frame,
                        const char* coder) {
    for (const BenchResult& r : results) {
        if (r.frame == frame && r.coder == coder)
            return &r;
    }
    return nullptr;
}

// Every coder on one frame, taking turns run by run, so that a machine whose load changes
// during the measurement slows all of them alike and their ratios hold. `seconds` is the
// time for each coder.
std::vector<BenchResult> MeasureFrame(const std::vector<std::unique_ptr<BenchCoder>>& coders,
                                      const BenchFrame& frame, double seconds, int minRuns) {
    using Clock = std::chrono::steady_clock;
    std::vector<size_t> bytes;
    for (auto& coder : coders)
        bytes.push_back(coder->Encode(frame.bytes.data()));  // warm caches and tables
    std::vector<std::vector<double>> times(coders.size());
    const auto end =
        Clock::now() + std::chrono::duration<double>(seconds * static_cast<double>(coders.size()));
    while (static_cast<int>(times[0].size()) < minRuns || Clock::now() < end) {
        for (size_t c = 0; c < coders.size(); ++c) {
            const Clock::time_point start = Clock::now();
            coders[c]->Encode(frame.bytes.data());
            times[c].push_back(std::chrono::duration<double>(Clock::now() - start).count());
        }
    }
    std::vector<BenchResult> results;
    for (size_t c = 0; c < coders.size(); ++c) {
        std::vector<double>& t = times[c];
        std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
        results.push_back(
            {frame.name, coders[c]->Name(), t[t.size() / 2], bytes[c], static_cast<int>(t.size())});
    }
    return results;
}

}  // namespace

std::vector<std::unique_ptr<BenchCoder>> MakeBenchCoders() {
    std::vector<std::unique_ptr<BenchCoder>> coders;
    coders.push_back(MakeProjectorCoder());
    coders.push_back(MakeLz4Coder());
    coders.push_back(MakeZstdCoder());
    coders.push_back(MakeQoiCoder());
    return coders;
}

void PrintBenchTable(const std::vector<BenchResult>& results, std::FILE* out) {
    std::fprintf(out,
                 "%zu-byte frames (854 x 480 x 3); median time per frame; MB = 10^6 bytes; "
                 "codec kernel %s\n",
                 kBenchFrameBytes, FastestSegmentKernel().name);
    std::fprintf(out, "%-14s %-7s %9s %9s %9s %7s %6s\n", "frame", "coder", "ms/frame", "MB/s",
                 "bytes", "size", "runs");
    for (const BenchResult& r : results) {
        std::fprintf(out, "%-14s %-7s %9.3f %9.1f %9zu %6.1f%% %6d\n", r.frame.c_str(),
                     r.coder.c_str(), r.medianSeconds * 1e3,
                     kBenchFrameBytes / r.medianSeconds / 1e6, r.compressedBytes,
                     100.0 * r.compressedBytes / kBenchFrameBytes, r.runs);
    }
    std::fprintf(out, "time ratios:\n");
    for (const BenchResult& r : results) {
        if (r.coder != "codec")
            continue;
        // A reference left out of the run (a benchmark filter) has no ratio.
        auto ratio = [&](const char* coder) {
            const BenchResult* reference = Find(results, r.frame, coder);
            char text[16] = "    -";
            if (reference != nullptr)
                std::snprintf(text, sizeof text, "%5.2f",
                              r.medianSeconds / reference->medianSeconds);
            return std::string(text);
        };
        std::fprintf(out, "%-14s codec/LZ4 %s   codec/QOI %s\n", r.frame.c_str(),
                     ratio("LZ4").c_str(), ratio("QOI").c_str());
    }
}

int RunFrameBench(int argc, char** argv) {
    std::string dataDir = DefaultBenchDataDir();
    double seconds = 0.5;
    int minRuns = 25;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--data") == 0 && hasValue) {
            dataDir = argv[++i];
        } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--runs") == 0 && hasValue) {
            minRuns = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "bench: unknown option %s\n", argv[i]);
            std::fprintf(stderr, "usage: bench [--data DIR] [--seconds S] [--runs N]\n");
            return 1;
        }
    }
    std::vector<BenchFrame> frames;
    std::string error;
    if (!LoadBenchFrames(dataDir, &frames, &error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<BenchCoder>> coders = MakeBenchCoders();
    std::vector<BenchResult> results;
    for (const BenchFrame& frame : frames) {
        const std::vector<BenchResult> frameResults = MeasureFrame(coders, frame, seconds, minRuns);
        results.insert(results.end(), frameResults.begin(), frameResults.end());
    }
    PrintBenchTable(results, stdout);
    return 0;
}
