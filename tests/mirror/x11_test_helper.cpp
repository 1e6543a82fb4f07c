// For the whole-program tests and the benchmark, a client of the X server that
//   offer-mode WIDTHxHEIGHT   gives the output a mode of that size and keeps it there (modes
//                             go with the client that made them)
//   animate                   moves a window across the screen a hundred times a second, so
//                             that every frame has to be read anew
// and runs until it is ended.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/mirror/x11_test_client.h"

namespace {
constexpr unsigned long kWindowColour = 0x20C060;
constexpr int kWindowSize = 200;
constexpr int kStep = 7;
constexpr useconds_t kStepMicroseconds = 10000;
}  // namespace

int main(int argc, char** argv) {
    int width = 0;
    int height = 0;
    bool offerMode = argc == 3 && std::strcmp(argv[1], "offer-mode") == 0 &&
                     std::sscanf(argv[2], "%dx%d", &width, &height) == 2;
    bool animate = argc == 2 && std::strcmp(argv[1], "animate") == 0;
    if (!offerMode && !animate) {
        std::fprintf(stderr, "usage: kv_x11_test_helper offer-mode WIDTHxHEIGHT | animate\n");
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
    unsigned long window =
        animate ? client.ShowColour(kWindowColour, 0, 0, kWindowSize, kWindowSize) : 0;
    std::printf("ready\n");
    std::fflush(stdout);
    for (int x = 0;; x = (x + kStep) % 1000) {
        if (animate) {
            client.MoveWindow(window, x, x / 2);
            usleep(kStepMicroseconds);
        } else {
            pause();
        }
    }
}
