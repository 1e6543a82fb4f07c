// Frames through the real senders into the virtual projector, 300 a run.
//
//   Host/...: no simulated link. The time is the host's cost per frame (the sender's wall time
//   less the time spent inside the projector), split into the codec (EncodeFrame, timed inside
//   the sender) and the framing and copying around it. The picture changes in every slice from
//   frame to frame (changing), stays the same with nobody saying so (still: the sender compares
//   it with the frame it kept), or stays the same as the capture source knows (repeated).
//   Link/...: the projector takes as long as a USB 2.0 or 1.1 link would for each transfer; the
//   time is the wall time per frame, and fps what the sender thread can reach.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "emulator/virtual_projector.h"
#include "image/image_file.h"
#include "platform/debug_print.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 300;

std::vector<uint8_t> LoadFrame(const char* name) {
    Image image;
    std::string error;
    if (!ReadImage(std::string(KV_BENCH_DATA_DIR) + "/" + name, &image, &error) ||
        image.bgr.size() != FRAME_BYTES) {
        std::fprintf(stderr, "transfer_bench: %s\n", error.empty() ? name : error.c_str());
        std::exit(1);
    }
    return image.bgr;
}

// A virtual projector found and opened by the real start-up code.
std::unique_ptr<emu::VirtualProjector> OpenProjector(uint32_t link, emu::LinkDelay delay) {
    emu::VirtualConfig config;
    config.linkValues = {link};
    config.delay = delay;
    auto projector = std::make_unique<emu::VirtualProjector>(config);
    g_pDeviceBackend = projector.get();
    g_uDiskSearchIndex = g_uOpticalSearchIndex = 0;
    DroppedTraces quiet;
    SetTraceSink(&quiet);
    bool opened = OpenDriverlessDevice() == 1;
    SetTraceSink(nullptr);
    if (!opened) {
        std::fprintf(stderr, "transfer_bench: the virtual projector did not open\n");
        std::exit(1);
    }
    return projector;
}

// The codec's share of the sender's time, measured inside the real sender: the linker routes
// the sender's calls of EncodeFrame (by its mangled name) through the wrapper below.
double g_codecSeconds = 0;

}  // namespace

extern "C" bool __real__Z11EncodeFrameP16FrameCodecParamsPKhPhPi(FrameCodecParams* params,
                                                                 const uint8_t* source,
                                                                 uint8_t* output, int* outLength);

extern "C" bool __wrap__Z11EncodeFrameP16FrameCodecParamsPKhPhPi(FrameCodecParams* params,
                                                                 const uint8_t* source,
                                                                 uint8_t* output, int* outLength) {
    Clock::time_point start = Clock::now();
    bool encoded =
        __real__Z11EncodeFrameP16FrameCodecParamsPKhPhPi(params, source, output, outLength);
    g_codecSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    return encoded;
}

namespace {

// `before`: frames sent before the measured ones.
void ReportFrames(benchmark::State& state, const emu::VirtualProjector& projector, int before) {
    emu::EmulatorReport report = projector.Report();
    int shown = report.projectors[0].framesCompleted[0] + report.projectors[0].framesCompleted[1];
    if (report.protocolErrorCount != 0 || shown != kFrames + before) {
        state.SkipWithError("the projector did not show every frame without protocol errors");
    }
    uint64_t wireBytes = 0;
    for (const emu::CommandRecord& command : projector.CommandLog()) {
        wireBytes += command.length;
    }
    state.counters["wire_KB"] = static_cast<double>(wireBytes) / (kFrames + before) / 1000;
}

enum class Change { Changing, Still, Repeated };

// The picture, and a copy of it that differs in one byte of every slice.
std::array<std::vector<uint8_t>, 2> ChangingFrames(const char* picture) {
    std::array<std::vector<uint8_t>, 2> frames = {LoadFrame(picture), LoadFrame(picture)};
    for (uint32_t position = 0; position < FRAME_BYTES; position += SLICE_BYTES) {
        frames[1][position] ^= 1;
    }
    return frames;
}

void Host(benchmark::State& state, const char* picture, bool compressed, Change change) {
    std::array<std::vector<uint8_t>, 2> frames = ChangingFrames(picture);
    auto projector = OpenProjector(compressed ? LINK_USB2_0 : LINK_USB3_0, emu::LinkDelay::None);
    // The frame before the first measured one, so that a still picture is still from the start.
    compressed ? SendFrameCompressed(frames[0].data()) : SendFrameRaw(frames[0].data());
    g_codecSeconds = 0;
    double hostSeconds = 0;
    double deviceStart = projector->DeviceSeconds();
    int sent = 0;
    for (auto _ : state) {
        const uint8_t* frame = frames[0].data();
        if (change == Change::Changing) {
            frame = frames[++sent % 2].data();
        } else if (change == Change::Repeated) {
            frame = nullptr;
        }
        double deviceBefore = projector->DeviceSeconds();
        Clock::time_point start = Clock::now();
        int result = compressed ? SendFrameCompressed(frame) : SendFrameRaw(frame);
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        double host = wall - (projector->DeviceSeconds() - deviceBefore);
        hostSeconds += host;
        state.SetIterationTime(host);
        g_bFrameToggle ^= 1;
        if (result != 0) {
            state.SkipWithError("a frame failed");
            break;
        }
    }
    state.counters["codec_ms"] = g_codecSeconds / kFrames * 1e3;
    state.counters["framing_ms"] = (hostSeconds - g_codecSeconds) / kFrames * 1e3;
    state.counters["projector_ms"] = (projector->DeviceSeconds() - deviceStart) / kFrames * 1e3;
    ReportFrames(state, *projector, 1);
}

void Link(benchmark::State& state, const char* picture, bool compressed, emu::LinkDelay delay) {
    std::array<std::vector<uint8_t>, 2> frames = ChangingFrames(picture);
    uint32_t link = delay == emu::LinkDelay::Usb2 ? LINK_USB2_0 : LINK_USB1_1;
    auto projector = OpenProjector(link, delay);
    double seconds = 0;
    int sent = 0;
    for (auto _ : state) {
        const uint8_t* frame = frames[++sent % 2].data();
        Clock::time_point start = Clock::now();
        int result = compressed ? SendFrameCompressed(frame) : SendFrameRaw(frame);
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        seconds += wall;
        state.SetIterationTime(wall);
        g_bFrameToggle ^= 1;
        if (result != 0) {
            state.SkipWithError("a frame failed");
            break;
        }
    }
    state.counters["fps"] = static_cast<double>(state.iterations()) / seconds;
    ReportFrames(state, *projector, 0);
}

void Register() {
    struct HostCase {
        const char* name;
        const char* picture;
        bool compressed;
        Change change;
    };
    for (const HostCase& c :
         {HostCase{"Host/raw/desktop", "desktop_text.png", false, Change::Changing},
          HostCase{"Host/compressed/desktop", "desktop_text.png", true, Change::Changing},
          HostCase{"Host/raw/photo", "photo.png", false, Change::Changing},
          HostCase{"Host/compressed/photo", "photo.png", true, Change::Changing},
          HostCase{"Host/raw/desktop/still", "desktop_text.png", false, Change::Still},
          HostCase{"Host/compressed/desktop/still", "desktop_text.png", true, Change::Still},
          HostCase{"Host/raw/desktop/repeated", "desktop_text.png", false, Change::Repeated},
          HostCase{"Host/compressed/desktop/repeated", "desktop_text.png", true,
                   Change::Repeated}}) {
        benchmark::RegisterBenchmark(c.name, Host, c.picture, c.compressed, c.change)
            ->Iterations(kFrames)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (bool compressed : {false, true}) {
        std::string name = std::string("Link/usb2/") + (compressed ? "compressed" : "raw");
        benchmark::RegisterBenchmark((name + "/desktop").c_str(), Link, "desktop_text.png",
                                     compressed, emu::LinkDelay::Usb2)
            ->Iterations(kFrames)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
