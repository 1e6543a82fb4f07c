#include <windows.h>

#include "platform/system_library_win32.h"
#include "platform/timer.h"

namespace {
using TimeBeginPeriodFunction = UINT(WINAPI*)(UINT);

// Windows 11 ignores a timer resolution asked for by a process whose windows are all hidden,
// as this program's only window is, unless the process opts out of that throttling.
void KeepTimerResolutionWhileHidden() {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    state.StateMask = 0;  // honour the resolution asked for
    // Earlier systems do not know the flag and refuse; they honour the resolution anyway.
    SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

LARGE_INTEGER CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency;
}
}  // namespace

void BeginOneMsTimerPeriod() {
    KeepTimerResolutionWhileHidden();
    if (auto timeBeginPeriod =
            SystemFunctionAs<TimeBeginPeriodFunction>(L"winmm.dll", "timeBeginPeriod")) {
        timeBeginPeriod(1);
    }
}

// The performance counter: exact to the millisecond whatever the timer resolution.
uint32_t GetTimeMs() {
    static const LARGE_INTEGER frequency = CounterFrequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint32_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void SleepMsAnsweringMessages(uint32_t milliseconds) {
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE) ==
        WAIT_OBJECT_0) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
