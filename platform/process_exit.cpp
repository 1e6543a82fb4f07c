#include "platform/process_exit.h"

#include <atomic>

namespace {
std::atomic<ExitHandler*> g_pExitHandler{nullptr};
}

void SetExitHandler(ExitHandler* handler) {
    g_pExitHandler.store(handler);
}

int ExitCode(RunEnd reason) {
    return reason == RunEnd::NoProjector ? 1 : 0;
}

void ExitProgram(RunEnd reason) {
    if (ExitHandler* handler = g_pExitHandler.load()) {
        handler->BeforeExit(reason);
    }
    EndProcess(ExitCode(reason));
}
