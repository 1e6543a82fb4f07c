#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_coders.h"

// The frame codec against LZ4, zstd and QOI on the same 854 x 480 frames.

struct BenchResult {
    std::string frame;
    std::string coder;
    double medianSeconds;  // per frame
    size_t compressedBytes;
    int runs;
};

// codec, LZ4, zstd-1, QOI, in that order.
std::vector<std::unique_ptr<BenchCoder>> MakeBenchCoders();

// One line per result (time per frame, MB/s, size), then for each frame the time ratios
// codec/LZ4 and codec/QOI.
void PrintBenchTable(const std::vector<BenchResult>& results, std::FILE* out);

// `kvusbtool bench`: times every coder on every frame, the coders taking turns, and prints
// the table. argv[0] is the
// command's name; options: --data DIR (the test pictures), --seconds S (time per
// measurement, default 0.5), --runs N (at least N runs, default 25). Returns 0, or 1 on a bad
// option or a missing image.
int RunFrameBench(int argc, char** argv);
