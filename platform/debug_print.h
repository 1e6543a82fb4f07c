#pragma once

// The program's one trace function: printf-style, cut to 1023 characters, handed to the
// debugger output (standard error outside Windows) or to the sink a program or test installs.
// There are no levels.
#if defined(__MINGW32__)
#define KV_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define KV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

void DebugPrint(const char* format, ...) KV_PRINTF_FORMAT(1, 2);

// Where formatted traces go instead of the platform output, for a program or a test that
// keeps or shows them itself. The installer owns it and keeps it alive while installed; Write
// may be called on any thread.
class TraceSink {
  public:
    virtual void Write(const char* text) = 0;

  protected:
    ~TraceSink() = default;
};
// nullptr restores the platform output.
void SetTraceSink(TraceSink* sink);

// Drops every trace: for benchmarks, and tests that make traces they do not read.
class DroppedTraces final : public TraceSink {
  public:
    void Write(const char*) override {}
};

// Platform output of one formatted trace (OutputDebugStringA on Windows).
void PlatformTraceOutput(const char* text);
