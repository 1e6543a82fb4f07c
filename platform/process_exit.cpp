#include "platform/process_exit.h"

#include <atomic>

namespace {
std::atomic<ExitHandler*> g_pExitHandler{nullptr};
}

void SetExitHandler(ExitHandler* handler) {
    g_pExitHandler.store(handler);
}

void ExitProgram(int code) {
    if (ExitHandler* handler = g_pExitHandler.load()) {
        handler->BeforeExit(code);
    }
    EndProcess(code);
}
