#include <windows.h>

#include "platform/debug_print.h"

void PlatformTraceOutput(const char* text) {
    OutputDebugStringA(text);
}
