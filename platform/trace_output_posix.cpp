#include <cstdio>

#include "platform/debug_print.h"

void PlatformTraceOutput(const char* text) { std::fputs(text, stderr); }
