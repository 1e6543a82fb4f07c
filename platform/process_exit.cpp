#include "platform/process_exit.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<ExitHandler> g_ExitHandler{nullptr};
}

void SetExitHandler(ExitHandler handler) { g_ExitHandler.store(handler); }

void ExitProgram(int code) {
    if (ExitHandler handler = g_ExitHandler.load()) {
        handler(code);
    }
    std::exit(code);
}
