#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/debug_print.h"

namespace {
// When set, every trace is also appended to this file, for tests and the demo that run the
// program where no debugger listens (under Wine, say).
constexpr char kTraceFileVariable[] = "VORN_KVUSB_TRACE_FILE";

std::mutex g_traceFileLock;

HANDLE TraceFile() {
    static const HANDLE file = [] {
        const char* path = std::getenv(kTraceFileVariable);
        if (path == nullptr || *path == '\0') {
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }();
    return file;
}
}  // namespace

void PlatformTraceOutput(const char* text) {
    OutputDebugStringA(text);
    HANDLE file = TraceFile();
    if (file != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> hold(g_traceFileLock);
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    }
}
