// What reading and scaling one frame of the X desktop costs (a benchmark, not a test): the
// desktop source of the capture library grabbing frames back to back, with a small window
// moved before each one so that every grab reads the whole screen anew (a screen nobody draws
// on is read once).
//   x11_capture_bench [WIDTH HEIGHT [FRAMES]]     the session's size, 854 x 480 by default
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <vector>

#include "kvcap/capture_source.h"
#include "tests/mirror/x11_test_client.h"

int main(int argc, char** argv) {
    int width = argc > 2 ? std::atoi(argv[1]) : 854;
    int height = argc > 2 ? std::atoi(argv[2]) : 480;
    int frames = argc > 3 ? std::atoi(argv[3]) : 200;
    X11TestClient client;
    CaptureSourceChoice choice;
    std::unique_ptr<CaptureSource> source =
        OpenDesktopSource(choice, CaptureGeometry{width, height, true});
    if (!client.Connected() || !source || frames < 1) {
        std::fprintf(stderr, "x11_capture_bench: no X display, or bad arguments\n");
        return 1;
    }
    unsigned long window = client.ShowColour(0x20C060, 0, 0, 16, 16);
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
    using Milliseconds = std::chrono::duration<double, std::milli>;
    std::vector<double> costs(frames);
    for (int i = 0; i < frames; ++i) {
        client.MoveWindow(window, i % 64, 0);
        auto start = std::chrono::steady_clock::now();
        if (source->Grab(frame.data()) != 0) {
            std::fprintf(stderr, "x11_capture_bench: a frame failed\n");
            return 1;
        }
        costs[i] = Milliseconds(std::chrono::steady_clock::now() - start).count();
    }
    std::sort(costs.begin(), costs.end());
    std::printf("%dx%d: mean %.2f ms, median %.2f ms, 90th percentile %.2f ms, max %.2f ms\n",
                width, height, std::accumulate(costs.begin(), costs.end(), 0.0) / frames,
                costs[costs.size() / 2], costs[costs.size() * 9 / 10], costs.back());
    return 0;
}
