#include "platform/debug_print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
constexpr int kTraceBufferSize = 1024;
std::atomic<TraceSink*> g_pTraceSink{nullptr};
}  // namespace

void SetTraceSink(TraceSink* sink) {
    g_pTraceSink.store(sink);
}

void DebugPrint(const char* format, ...) {
    char text[kTraceBufferSize];
    va_list args;
    va_start(args, format);
    // vsnprintf cuts longer output and always terminates.
    if (vsnprintf(text, sizeof text, format, args) < 0) {
        text[0] = '\0';
    }
    va_end(args);
    if (TraceSink* sink = g_pTraceSink.load()) {
        sink->Write(text);
    } else {
        PlatformTraceOutput(text);
    }
}
