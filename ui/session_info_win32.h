#pragma once

#include <windows.h>

// WTSINFOEXW as the system lays it out, which this toolchain's wtsapi32.h lacks: the level,
// then the level-1 record, aligned for the 64-bit times that follow these first fields (its
// names, times and counters, which the program does not read).
struct SessionInfoEx {
    DWORD level;
    alignas(8) ULONG sessionId;
    INT sessionState;  // WTS_CONNECTSTATE_CLASS
    LONG sessionFlags;
};
inline constexpr DWORD SESSION_INFO_EX = 25;   // WTS_INFO_CLASS WTSSessionInfoEx
inline constexpr LONG SESSION_STATE_LOCK = 0;  // WTS_SESSIONSTATE_LOCK
