// Google Benchmark cases for the frame codec and its references, one per frame and coder,
// then the table of medians and ratios.

#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/bench_frames.h"
#include "bench/frame_bench.h"

namespace {

// Keeps the median of every case for the closing table.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.function_name;  // frame/coder
            const size_t slash = name.find('/');
            const auto bytes = run.counters.find("bytes");
            medians.push_back(
                {name.substr(0, slash), name.substr(slash + 1),
                 run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit),
                 bytes == run.counters.end() ? 0 : static_cast<size_t>(bytes->second),
                 static_cast<int>(run.repetitions)});
        }
    }
    std::vector<BenchResult> medians;
};

}  // namespace

int main(int argc, char** argv) {
    // Medians of 15 runs unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=15";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, aggregatesOnly});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    std::vector<BenchFrame> frames;
    std::string error;
    if (!LoadBenchFrames(DefaultBenchDataDir(), &frames, &error)) {
        std::fprintf(stderr, "codec_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<BenchCoder>> coders = MakeBenchCoders();
    for (const BenchFrame& frame : frames) {
        for (auto& coder : coders) {
            BenchCoder* c = coder.get();
            const BenchFrame* f = &frame;
            benchmark::RegisterBenchmark(
                (frame.name + "/" + c->Name()).c_str(),
                [c, f](benchmark::State& state) {
                    size_t bytes = 0;
                    for (auto _ : state) {
                        bytes = c->Encode(f->bytes.data());
                        benchmark::DoNotOptimize(bytes);
                    }
                    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                                            static_cast<int64_t>(kBenchFrameBytes));
                    state.counters["bytes"] = static_cast<double>(bytes);
                })
                ->Unit(benchmark::kMillisecond);
        }
    }
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    PrintBenchTable(reporter.medians, stdout);
    benchmark::Shutdown();
    return 0;
}
