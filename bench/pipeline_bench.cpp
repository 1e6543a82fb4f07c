// The whole frame pipeline under load: the synthetic capture source feeding CaptureCallback,
// the sender thread, the real frame senders and codec, and the virtual projector in a process
// of its own (bench/projector_process.h), so that the memory and time measured are the
// program's alone. Times per frame are CPU times of the thread doing the work: the copy from
// the capture library, the crop, the encoding and staging, and the writes and the frame-done
// command (handing their bytes to the projector's process); latency is wall time from the
// callback to the return of the frame-done command, as its median and 99th percentile. One row
// per captured size and sender, each measured in a process of its own so that its peak resident
// memory is its own.
//
// First table: the capture library delivers no faster than its session asks, and the program
// asks for 30 or 45 fps. For this table the program's request is raised to the library's
// highest rate (KVCAP_MAX_FPS) by wrapping KVCapAPI_SetMaxFPS at link time (-Wl,--wrap), so a
// rate at that ceiling means the pipeline kept up with it, and no link time is simulated.
// Second table: the program's own rate, and the projector taking as long as each link would
// (USB 3.0 is not slowed), so that latency can be set against one frame interval. The other
// wraps only take times.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/capture_session.h"
#include "app/frame_pipeline.h"
#include "bench/projector_process.h"
#include "device/device_discovery.h"
#include "platform/debug_print.h"

namespace {
using Clock = std::chrono::steady_clock;

constexpr int kWarmUpFrames = 30;
int g_measuredFrames = 600;
bool g_liftRate = true;
const char* g_source = "synthetic";

double Microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

// CPU time of the calling thread.
double ThreadCpuMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

// Takes the CPU time of the commands on their way to the virtual projector: the writes, and the
// frame-done command.
class TimedBackend final : public DeviceBackend {
  public:
    explicit TimedBackend(DeviceBackend* inner) : m_inner(inner) {}

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        double start = ThreadCpuMicroseconds();
        uint32_t result = m_inner->SendScsi(unit, request);
        double elapsed = ThreadCpuMicroseconds() - start;
        (request.cdb[0] == 0xFE ? frameDoneMicroseconds : writeMicroseconds) += elapsed;
        return result;
    }
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        return m_inner->GetDiskInterface(index, path, error);
    }
    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override {
        return m_inner->OpenUnit(path, error);
    }
    void CloseUnit(DeviceHandle unit) override { m_inner->CloseUnit(unit); }
    std::vector<VolumeInfo> ListVolumes() override { return m_inner->ListVolumes(); }
    void RemoveMountPoint(const std::string& root) override { m_inner->RemoveMountPoint(root); }
    std::string SystemErrorText(uint32_t code) override { return m_inner->SystemErrorText(code); }

    // Touched by the sender thread only while frames flow.
    std::atomic<double> writeMicroseconds{0};
    std::atomic<double> frameDoneMicroseconds{0};

  private:
    DeviceBackend* m_inner;
};

struct Measures {
    std::mutex lock;
    std::deque<Clock::time_point> announced;  // callback entries of frames queued, in order
    int framesSent = 0;
    Clock::time_point windowStart, windowEnd;
    int copies = 0;          // frames copied while measuring
    double copyCpu = 0;      // KVCapAPI_CopyRawData
    double callbackCpu = 0;  // copy, crop and queueing
    double sendTime = 0;     // the senders, projector included
    double writeTime = 0;    // the writes inside them
    double frameDoneTime = 0;
    std::vector<double> latencies;  // microseconds
    TimedBackend* backend = nullptr;
};
Measures g_measures;
KVCapFrameCallback g_programCallback = nullptr;

bool Measuring(int frame) {
    return frame >= kWarmUpFrames && frame < kWarmUpFrames + g_measuredFrames;
}

int TimedCallback(CaptureFrameInfo* info) {
    Clock::time_point announced = Clock::now();
    // Wait for room as the program would, so that the time below is the copy alone.
    while (g_nQueuedFrames.load() >= MAX_QUEUED_FRAMES &&
           g_nCaptureState.load() == CAPTURE_RUNNING) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    // A usable frame while the session runs is queued, copied or (unchanged) not.
    if (info->status >= 0 && g_nCaptureState.load() == CAPTURE_RUNNING) {
        std::lock_guard<std::mutex> hold(g_measures.lock);
        g_measures.announced.push_back(announced);
    }
    double cpu = ThreadCpuMicroseconds();
    int result = g_programCallback(info);
    cpu = ThreadCpuMicroseconds() - cpu;
    std::lock_guard<std::mutex> hold(g_measures.lock);
    if (Measuring(g_measures.framesSent)) {
        g_measures.callbackCpu += cpu;
    }
    return result;
}

int TimedSend(int (*send)(const uint8_t*), const uint8_t* frame) {
    double writesBefore = g_measures.backend->writeMicroseconds.load();
    double frameDoneBefore = g_measures.backend->frameDoneMicroseconds.load();
    double start = ThreadCpuMicroseconds();
    int result = send(frame);
    double cpu = ThreadCpuMicroseconds() - start;
    Clock::time_point done = Clock::now();
    std::lock_guard<std::mutex> hold(g_measures.lock);
    int index = g_measures.framesSent++;
    Clock::time_point announced =
        g_measures.announced.empty() ? done : g_measures.announced.front();
    if (!g_measures.announced.empty()) {
        g_measures.announced.pop_front();
    }
    if (index == kWarmUpFrames - 1) {
        g_measures.windowStart = done;
    }
    if (Measuring(index)) {
        g_measures.sendTime += cpu;
        g_measures.writeTime += g_measures.backend->writeMicroseconds.load() - writesBefore;
        g_measures.frameDoneTime +=
            g_measures.backend->frameDoneMicroseconds.load() - frameDoneBefore;
        g_measures.latencies.push_back(Microseconds(done - announced));
    }
    if (index == kWarmUpFrames + g_measuredFrames - 1) {
        g_measures.windowEnd = done;
    }
    return result;
}
}  // namespace

extern "C" {
int __real__Z18KVCapAPI_SetMaxFPSji(KVCapHandle handle, int fps);
int __wrap__Z18KVCapAPI_SetMaxFPSji(KVCapHandle handle, int fps) {
    return __real__Z18KVCapAPI_SetMaxFPSji(handle, g_liftRate ? KVCAP_MAX_FPS : fps);
}

int __real__Z13KVCapAPI_OpenjPFiP16CaptureFrameInfoEiii(KVCapHandle, KVCapFrameCallback, int, int,
                                                        int);
int __wrap__Z13KVCapAPI_OpenjPFiP16CaptureFrameInfoEiii(KVCapHandle handle,
                                                        KVCapFrameCallback callback, int flags,
                                                        int width, int height) {
    g_programCallback = callback;
    return __real__Z13KVCapAPI_OpenjPFiP16CaptureFrameInfoEiii(handle, TimedCallback, flags, width,
                                                               height);
}

int __real__Z20KVCapAPI_CopyRawDatajPvPK16CaptureFrameInfo(KVCapHandle, void*,
                                                           const CaptureFrameInfo*);
int __wrap__Z20KVCapAPI_CopyRawDatajPvPK16CaptureFrameInfo(KVCapHandle handle, void* destination,
                                                           const CaptureFrameInfo* info) {
    double cpu = ThreadCpuMicroseconds();
    int result = __real__Z20KVCapAPI_CopyRawDatajPvPK16CaptureFrameInfo(handle, destination, info);
    cpu = ThreadCpuMicroseconds() - cpu;
    std::lock_guard<std::mutex> hold(g_measures.lock);
    if (Measuring(g_measures.framesSent)) {
        g_measures.copyCpu += cpu;
        ++g_measures.copies;
    }
    return result;
}

int __real__Z12SendFrameRawPKh(const uint8_t*);
int __wrap__Z12SendFrameRawPKh(const uint8_t* frame) {
    return TimedSend(__real__Z12SendFrameRawPKh, frame);
}

int __real__Z19SendFrameCompressedPKh(const uint8_t*);
int __wrap__Z19SendFrameCompressedPKh(const uint8_t* frame) {
    return TimedSend(__real__Z19SendFrameCompressedPKh, frame);
}
}

namespace {
struct Config {
    const char* name;
    int zoom;
    const char* link;   // 3.0: raw sender; 2.0 and 1.1: compressed sender
    const char* delay;  // the simulated link: none, usb2 or usb1
};

// The value below which `share` of the sorted values lie.
double Percentile(const std::vector<double>& sorted, double share) {
    size_t index = static_cast<size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// Runs one configuration in this process and prints its row.
int RunOne(const Config& config) {
    static DroppedTraces quiet;
    SetTraceSink(&quiet);
    KVCapSetSource(g_source);
    emu::VirtualConfig projectorConfig;
    std::string error;
    std::string text = std::string("virtual:link=") + config.link + ",delay=" + config.delay;
    if (!emu::ParseVirtualConfig(text, &projectorConfig, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<ProjectorProcess> projector = ProjectorProcess::Start(projectorConfig);
    if (!projector) {
        return 1;
    }
    TimedBackend backend(projector.get());
    g_measures.backend = &backend;
    g_pDeviceBackend = &backend;
    InitCapture();
    CreateCapture();
    g_nCaptureZoom = config.zoom;
    OpenCapture();
    auto finished = [] {
        std::lock_guard<std::mutex> hold(g_measures.lock);
        return g_measures.framesSent >= kWarmUpFrames + g_measuredFrames;
    };
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(300);
    while (!finished() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CloseCapture();
    ReleaseCapture();
    if (!finished()) {
        std::fprintf(stderr, "%s: timed out\n", config.name);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double seconds =
        std::chrono::duration<double>(g_measures.windowEnd - g_measures.windowStart).count();
    double n = g_measuredFrames;
    std::vector<double>& latencies = g_measures.latencies;
    std::sort(latencies.begin(), latencies.end());
    double median = Percentile(latencies, 0.5) / 1000;
    double p99 = Percentile(latencies, 0.99) / 1000;
    double peak = usage.ru_maxrss / 1024.0;
    if (g_liftRate) {
        double encode = (g_measures.sendTime - g_measures.writeTime - g_measures.frameDoneTime) / n;
        double copies = std::max(g_measures.copies, 1);
        double copy = g_measures.copyCpu / copies;
        double crop = (g_measures.callbackCpu - g_measures.copyCpu) / copies;
        std::printf("| %-27s | %4.0f | %5.0f | %5.0f | %6.0f | %8.0f | %7.1f | %6.1f | %5.1f |\n",
                    config.name, n / seconds, copy, crop, encode,
                    (g_measures.writeTime + g_measures.frameDoneTime) / n, median, p99, peak);
    } else {
        std::printf("| %-27s | %4.1f | %7.1f | %6.1f | %8.1f | %5.1f |\n", config.name, n / seconds,
                    median, p99, 1000.0 / (config.link[0] == '3' ? 45 : 30), peak);
    }
    std::fflush(stdout);
    return projector->Finish() ? 0 : 1;
}

// Each configuration in a process of its own; the number that failed.
int RunEach(const std::vector<Config>& configs) {
    int failures = 0;
    for (const Config& config : configs) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            std::_Exit(RunOne(config));
        }
        int status = 0;
        waitpid(child, &status, 0);
        failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    }
    return failures;
}
}  // namespace

//   pipeline_bench              the synthetic source, both tables
//   pipeline_bench --desktop    the desktop of $DISPLAY, the first table (mirror_bench.sh)
int main(int argc, char** argv) {
    bool desktop = argc > 1 && std::string(argv[1]) == "--desktop";
    g_source = desktop ? "" : "synthetic";
    std::printf(
        "%d frames a row after %d to warm up; capture capped at %d fps; times per frame; "
        "%s\n",
        g_measuredFrames, kWarmUpFrames, KVCAP_MAX_FPS,
        desktop ? "the X desktop" : "the synthetic source");
    const char* header = "| %-27s | %4s | %5s | %5s | %6s | %8s | %7s | %6s | %5s |\n";
    std::printf(header, "captured size, sender", "fps", "copy", "crop", "encode", "transfer",
                "latency", "p99", "peak");
    std::printf(header, "", "", "us", "us", "us", "us", "ms", "ms", "MiB");
    int failures = RunEach({
        {"854 x 480 raw (USB 3.0)", ZOOM_ORIGINAL, "3.0", "none"},
        {"1136 x 480 raw (USB 3.0)", ZOOM_1, "3.0", "none"},
        {"854 x 848 raw (USB 3.0)", ZOOM_2, "3.0", "none"},
        {"854 x 480 compressed (2.0)", ZOOM_ORIGINAL, "2.0", "none"},
        {"1136 x 480 compressed (2.0)", ZOOM_1, "2.0", "none"},
        {"854 x 848 compressed (2.0)", ZOOM_2, "2.0", "none"},
    });
    if (desktop) {
        return failures == 0 ? 0 : 1;
    }

    g_liftRate = false;
    g_measuredFrames = 300;
    std::printf("\nThe program's own rate, over the simulated link: %d frames a row\n",
                g_measuredFrames);
    const char* linkHeader = "| %-27s | %4s | %7s | %6s | %8s | %5s |\n";
    std::printf(linkHeader, "link, sender", "fps", "latency", "p99", "interval", "peak");
    std::printf(linkHeader, "", "", "ms", "ms", "ms", "MiB");
    failures += RunEach({
        {"USB 3.0, raw, 45 fps", ZOOM_ORIGINAL, "3.0", "none"},
        {"USB 2.0, compressed, 30 fps", ZOOM_ORIGINAL, "2.0", "usb2"},
    });
    g_measuredFrames = 40;
    failures += RunEach({{"USB 1.1, compressed, 30 fps", ZOOM_ORIGINAL, "1.1", "usb1"}});
    return failures == 0 ? 0 : 1;
}
