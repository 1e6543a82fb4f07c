// How long the decoder takes for a whole frame the sender's way: 19 compressed slices of
// 1024 x 21 pixels cut from a captured 854 x 480 frame. Run
// build/<dir>/bench/decoder_bench.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/frame_decoder.h"
#include "device/frame_transfer.h"
#include "image/image_file.h"

namespace {

std::vector<std::vector<uint8_t>> EncodeFrameSlices(const char* name) {
    Image frame;
    std::string error;
    if (!ReadImage(std::string(KV_TEST_DATA_DIR) + "/" + name, &frame, &error))
        return {};
    std::vector<std::vector<uint8_t>> units;
    for (size_t offset = 0; offset + SLICE_BYTES <= frame.bgr.size(); offset += SLICE_BYTES) {
        FrameCodecParams p = CompressedSliceParams();
        std::vector<uint8_t> unit(MaxEncodedLength(p));
        int length = 0;
        EncodeFrame(&p, frame.bgr.data() + offset, unit.data(), &length);
        unit.resize(static_cast<size_t>(length));
        units.push_back(std::move(unit));
    }
    return units;
}

void DecodeFrameSlices(benchmark::State& state, const char* name) {
    const std::vector<std::vector<uint8_t>> units = EncodeFrameSlices(name);
    if (units.empty()) {
        state.SkipWithError("cannot read the frame");
        return;
    }
    DecodedRegion region;
    size_t unitBytes = 0;
    for (const auto& unit : units)
        unitBytes += unit.size();
    for (auto _ : state) {
        for (const auto& unit : units) {
            if (DecodeFrame(unit.data(), unit.size(), DecodeOptions{}, &region) != DECODE_OK) {
                state.SkipWithError("a slice does not decode");
                return;
            }
            benchmark::DoNotOptimize(region.pixels.data());
        }
    }
    state.counters["slices"] = static_cast<double>(units.size());
    state.counters["ratio"] = static_cast<double>(units.size() * SLICE_BYTES) / unitBytes;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(units.size() * SLICE_BYTES));
}

BENCHMARK_CAPTURE(DecodeFrameSlices, desktop, "desktop_text.png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFrameSlices, photo, "photo.png")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
