// For the whole-program tests and the benchmark, a client of the X server that
//   offer-mode WIDTHxHEIGHT   gives the output a mode of that size and keeps it there (modes
//                             go with the client that made them)
//   animate                   moves a window across the screen a hundred times a second, so
//                             that every frame has to be read anew
//   window WIDTHxHEIGHT+X+Y   shows a window there, still
// (both windows of one colour, their ID printed after "ready")
//   pattern                   shows the synthetic test pattern at the projector's size in the
//                             top-left corner, a new frame of it 30 times a second; SIGUSR1
//                             stops and starts the changes
// and runs until it is ended.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "kvcap/synthetic_pattern.h"
#include "tests/mirror/x11_test_client.h"

namespace {
constexpr unsigned long kWindowColour = 0x20C060;
constexpr int kWindowSize = 200;
constexpr int kStep = 7;
constexpr useconds_t kStepMicroseconds = 10000;
constexpr int kPatternWidth = 854;
constexpr int kPatternHeight = 480;
constexpr useconds_t kPatternMicroseconds = 33333;

volatile sig_atomic_t g_still = 0;

// Frames of the pattern until the process is ended.
[[noreturn]] void ShowPattern(X11TestClient* client) {
    signal(SIGUSR1, [](int) { g_still = !g_still; });
    unsigned long window = client->ShowPictureWindow(0, 0, kPatternWidth, kPatternHeight);
    std::vector<uint8_t> bgr(size_t{kPatternWidth} * kPatternHeight * 3);
    std::printf("ready\n");
    std::fflush(stdout);
    for (uint32_t frame = 0;; ++frame) {
        if (!g_still || frame == 0) {
            DrawSyntheticPattern(frame, kPatternWidth, kPatternHeight, bgr.data());
            client->PutPicture(window, bgr.data(), kPatternWidth, kPatternHeight);
        }
        usleep(kPatternMicroseconds);
    }
}
}  // namespace

int main(int argc, char** argv) {
    int width = 0;
    int height = 0;
    bool offerMode = argc == 3 && std::strcmp(argv[1], "offer-mode") == 0 &&
                     std::sscanf(argv[2], "%dx%d", &width, &height) == 2;
    bool animate = argc == 2 && std::strcmp(argv[1], "animate") == 0;
    bool pattern = argc == 2 && std::strcmp(argv[1], "pattern") == 0;
    int x = 0;
    int y = 0;
    bool still = argc == 3 && std::strcmp(argv[1], "window") == 0 &&
                 std::sscanf(argv[2], "%dx%d+%d+%d", &width, &height, &x, &y) == 4;
    if (!offerMode && !animate && !pattern && !still) {
        std::fprintf(stderr,
                     "usage: kv_x11_test_helper offer-mode WIDTHxHEIGHT | animate | pattern | "
                     "window WIDTHxHEIGHT+X+Y\n");
        return 2;
    }
    X11TestClient client;
    if (!client.Connected()) {
        std::fprintf(stderr, "kv_x11_test_helper: no X display\n");
        return 1;
    }
    if (offerMode) {
        client.OfferMode(width, height);
    }
    if (pattern) {
        ShowPattern(&client);
    }
    unsigned long window = animate
                               ? client.ShowColour(kWindowColour, 0, 0, kWindowSize, kWindowSize)
                           : still ? client.ShowColour(kWindowColour, x, y, width, height)
                                   : 0;
    std::printf("ready 0x%lx\n", window);
    std::fflush(stdout);
    for (int step = 0;; step = (step + kStep) % 1000) {
        if (animate) {
            client.MoveWindow(window, step, step / 2);
            usleep(kStepMicroseconds);
        } else {
            pause();
        }
    }
}
