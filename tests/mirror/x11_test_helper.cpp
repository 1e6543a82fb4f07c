// For the whole-program tests: a client that gives the X server's output a mode and keeps it
// there (modes go with the client that made them) until it is ended.
//   kv_x11_test_helper offer-mode WIDTHxHEIGHT
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/mirror/x11_test_client.h"

int main(int argc, char** argv) {
    int width = 0;
    int height = 0;
    if (argc != 3 || std::strcmp(argv[1], "offer-mode") != 0 ||
        std::sscanf(argv[2], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: kv_x11_test_helper offer-mode WIDTHxHEIGHT\n");
        return 2;
    }
    X11TestClient client;
    if (!client.Connected()) {
        std::fprintf(stderr, "kv_x11_test_helper: no X display\n");
        return 1;
    }
    client.OfferMode(width, height);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}
