// The capture scaler against the library's: a 1920 x 1080 desktop of 4-byte pixels brought to
// the projector's 854 x 480, as X11 capture does every frame (and to the zoomed 854 x 848). Reports
// each one's time and its largest difference from the exact area mean (which AreaScaler gives; see
// its tests). The flips, which mirror the output as it is written, against none. One window
// of 1280 x 720 cut from the desktop and fitted: still, moved a pixel each frame (the scaler
// kept), and dragged over the desktop's edge (its cut, and so its scaler, new each frame).
//
//   build/linux/bench/scaler_bench
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "image/area_scaler.h"
#include "image/image_fit.h"
#include "image/window_fit.h"

namespace {

constexpr int kSourceWidth = 1920;
constexpr int kSourceHeight = 1080;
constexpr int kWidth = 854;
constexpr int kHeight = 480;

// Smooth gradients with sharp-edged text-like noise, 4 bytes a pixel (blue, green, red, 0).
const std::vector<uint8_t>& Desktop() {
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> bytes(size_t{kSourceWidth} * kSourceHeight * 4);
        std::mt19937 random(1920);
        for (int y = 0; y < kSourceHeight; ++y) {
            for (int x = 0; x < kSourceWidth; ++x) {
                uint8_t* pixel = &bytes[(static_cast<size_t>(y) * kSourceWidth + x) * 4];
                const bool glyph = (y / 16) % 3 == 0 && random() % 4 == 0;
                pixel[0] = glyph ? 0 : static_cast<uint8_t>(x * 255 / kSourceWidth);
                pixel[1] = glyph ? 0 : static_cast<uint8_t>(y * 255 / kSourceHeight);
                pixel[2] = glyph ? 0 : 200;
            }
        }
        return bytes;
    }();
    return pixels;
}

const std::vector<uint8_t>& ExactMeans() {
    static const std::vector<uint8_t> bgr = [] {
        std::vector<uint8_t> out(size_t{kWidth} * kHeight * 3);
        AreaScaler scaler(kSourceWidth, kSourceHeight, kWidth, kHeight);
        scaler.Scale(Desktop().data(), kSourceWidth * 4, {}, out.data());
        return out;
    }();
    return bgr;
}

// The largest difference from the exact means, of pixels of `stride` bytes.
int MaxError(const std::vector<uint8_t>& scaled, int stride) {
    int worst = 0;
    for (size_t i = 0; i < size_t{kWidth} * kHeight; ++i) {
        for (int c = 0; c < 3; ++c) {
            worst = std::max(worst, std::abs(scaled[i * stride + c] - ExactMeans()[i * 3 + c]));
        }
    }
    return worst;
}

// At the projector's height, and at the zoomed session's 848 rows.
void AreaScalerCase(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    AreaScaler scaler(kSourceWidth, kSourceHeight, kWidth, height);
    std::vector<uint8_t> out(size_t{kWidth} * height * 3);
    for (auto _ : state) {
        scaler.Scale(Desktop().data(), kSourceWidth * 4, {}, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    if (height == kHeight) {
        state.counters["max_error"] = MaxError(out, 3);
    }
}

void StbResizeCase(benchmark::State& state) {
    const auto filter = static_cast<stbir_filter>(state.range(0));
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 4);
    for (auto _ : state) {
        stbir_resize_uint8_generic(Desktop().data(), kSourceWidth, kSourceHeight, kSourceWidth * 4,
                                   out.data(), kWidth, kHeight, kWidth * 4, 4,
                                   STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, filter,
                                   STBIR_COLORSPACE_LINEAR, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["max_error"] = MaxError(out, 4);
}

// The picture scaler of kvusbtool show and the replay source, on the same frame.
void PictureScalerCase(benchmark::State& state) {
    Image source{kSourceWidth, kSourceHeight, {}};
    for (size_t i = 0; i < Desktop().size(); i += 4) {
        source.bgr.insert(source.bgr.end(), &Desktop()[i], &Desktop()[i + 3]);
    }
    Image scaled;
    for (auto _ : state) {
        scaled = ScaleImage(source, kWidth, kHeight);
        benchmark::DoNotOptimize(scaled.bgr.data());
    }
    state.counters["max_error"] = MaxError(scaled.bgr, 3);
}

BENCHMARK(AreaScalerCase)->ArgName("height")->Arg(kHeight)->Arg(848)->Unit(benchmark::kMillisecond);

void FlipCase(benchmark::State& state) {
    AreaScaler scaler(kSourceWidth, kSourceHeight, kWidth, kHeight);
    scaler.SetFlip(static_cast<int>(state.range(0)));
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 3);
    for (auto _ : state) {
        scaler.Scale(Desktop().data(), kSourceWidth * 4, {}, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(FlipCase)
    ->ArgName("flip")
    ->DenseRange(FLIP_NONE, FLIP_BOTH)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);
void WindowFitCase(benchmark::State& state) {
    const int how = static_cast<int>(state.range(0));  // 0 still, 1 moved, 2 over the edge
    WindowScaler scaler(kWidth, kHeight, FLIP_NONE);
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 3);
    int step = 0;
    for (auto _ : state) {
        int x = how == 0 ? 320 : how == 1 ? 320 + step % 2 : 640 + step % 2;
        scaler.ScaleFromDesktop(Desktop().data(), kSourceWidth, kSourceHeight, kSourceWidth * 4, {},
                                {x, 180, 1280, 720}, out.data());
        benchmark::DoNotOptimize(out.data());
        ++step;
    }
}
BENCHMARK(WindowFitCase)
    ->ArgName("still_moved_edge")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StbResizeCase)
    ->ArgName("stbir_filter")
    ->Arg(STBIR_FILTER_BOX)
    ->Arg(STBIR_FILTER_DEFAULT)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PictureScalerCase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
