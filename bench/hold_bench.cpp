// What a held wall costs against streaming a still screen: the process's CPU time (every
// thread: capture, pipeline, sender) per frame sent, over the USB 2.0 sender at the program's
// own 30 fps, the virtual projector in a process of its own. A still screen is a replayed
// picture, which the source calls unchanged from the second frame on, so it is captured,
// copied and compared but not encoded again; a moving one (the synthetic pattern) is encoded
// every frame. Frozen and blank, nothing is captured or encoded.
//
//   build/linux/bench/hold_bench [SECONDS]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/capture_session.h"
#include "app/frame_pipeline.h"
#include "bench/projector_process.h"
#include "device/frame_transfer.h"
#include "emulator/virtual_config.h"
#include "platform/debug_print.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUpSeconds = 1;

// Frames the sender got to the projector, counted through a wrapper of the compressed sender.
std::atomic<int> g_framesSent{0};

double ProcessCpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Mode {
    const char* name;
    const char* source;
    int32_t wallHold;
};

// Runs one mode in this process and prints its row; 0 when frames came and all was well.
int RunOne(const Mode& mode, int seconds, const std::string& still) {
    static DroppedTraces quiet;
    SetTraceSink(&quiet);
    KVCapSetSource(mode.source[0] == '\0' ? ("synthetic:ppm=" + still).c_str() : mode.source);
    emu::VirtualConfig config;
    std::string error;
    if (!emu::ParseVirtualConfig("virtual:link=2.0,delay=usb2", &config, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<ProjectorProcess> projector = ProjectorProcess::Start(config);
    if (!projector) {
        return 1;
    }
    g_pDeviceBackend = projector.get();
    InitCapture();
    CreateCapture();
    OpenCapture();
    std::this_thread::sleep_for(std::chrono::seconds(kWarmUpSeconds));
    SetWallHold(mode.wallHold);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the hold in force
    int frames = g_framesSent.load();
    double cpu = ProcessCpuMilliseconds();
    Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    frames = g_framesSent.load() - frames;
    cpu = ProcessCpuMilliseconds() - cpu;
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    CloseCapture();
    ReleaseCapture();
    std::printf("| %-26s | %5.1f | %9.3f |\n", mode.name, frames / elapsed,
                frames > 0 ? cpu / frames : 0.0);
    std::fflush(stdout);
    return projector->Finish() && frames > 0 ? 0 : 1;
}

}  // namespace

extern "C" int __real__Z19SendFrameCompressedPKh(const uint8_t* frame);
extern "C" int __wrap__Z19SendFrameCompressedPKh(const uint8_t* frame) {
    int result = __real__Z19SendFrameCompressedPKh(frame);
    if (result == 0) {
        g_framesSent.fetch_add(1);
    }
    return result;
}

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds < 1) {
        std::fprintf(stderr, "usage: hold_bench [SECONDS]\n");
        return 2;
    }
    // A still desktop: one picture with edges and gradients, replayed.
    std::string still = std::string(P_tmpdir) + "/hold_bench_" + std::to_string(getpid()) + ".ppm";
    FILE* file = std::fopen(still.c_str(), "wb");
    std::fprintf(file, "P6\n%d %d\n255\n", PROJECTOR_WIDTH, PROJECTOR_HEIGHT);
    for (int y = 0; y < PROJECTOR_HEIGHT; ++y) {
        for (int x = 0; x < PROJECTOR_WIDTH; ++x) {
            const bool text = (y / 12) % 3 == 0 && (x * 7 + y * 3) % 11 < 4;
            std::fputc(text ? 0 : x * 255 / PROJECTOR_WIDTH, file);
            std::fputc(text ? 0 : y * 255 / PROJECTOR_HEIGHT, file);
            std::fputc(text ? 0 : 200, file);
        }
    }
    std::fclose(file);
    std::printf("%d s a row, USB 2.0 sender at 30 fps; CPU of the program's process\n", seconds);
    std::printf("| %-26s | %5s | %9s |\n", "wall", "fps", "CPU ms/fr");
    const Mode modes[] = {
        {"moving screen, streamed", "synthetic", WALL_LIVE},
        {"still screen, streamed", "", WALL_LIVE},
        {"still screen, frozen", "", WALL_FROZEN},
        {"still screen, blank", "", WALL_BLANK},
    };
    int failures = 0;
    for (const Mode& mode : modes) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            std::_Exit(RunOne(mode, seconds, still));
        }
        int status = 0;
        waitpid(child, &status, 0);
        failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    }
    std::remove(still.c_str());
    return failures == 0 ? 0 : 1;
}
