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

// Where formatted traces go. Tests and the Linux tools install their own; nullptr restores
// the platform output.
using TraceSink = void (*)(const char* text);
void SetTraceSink(TraceSink sink);

// Platform output of one formatted trace (OutputDebugStringA on Windows).
void PlatformTraceOutput(const char* text);
