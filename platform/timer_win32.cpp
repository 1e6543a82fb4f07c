#include <windows.h>

#include "platform/system_library_win32.h"
#include "platform/timer.h"

namespace {
using TimeBeginPeriodFunction = UINT(WINAPI*)(UINT);

void OptOutOfPowerThrottling(ULONG mechanism) {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = mechanism;
    state.StateMask = 0;  // not throttled
    SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

// The program's only window is hidden, so Windows takes it for background work: on battery it
// runs its threads slowly on efficient cores (EcoQoS), and Windows 11 ignores the timer
// resolution it asks for. Both would cost frames. One call per mechanism: a system that does
// not know one flag refuses the whole call, and earlier systems have no such throttling.
void KeepFullSpeedWhileHidden() {
    OptOutOfPowerThrottling(PROCESS_POWER_THROTTLING_EXECUTION_SPEED);
    OptOutOfPowerThrottling(PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION);
}

LARGE_INTEGER CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency;
}
}  // namespace

void BeginOneMsTimerPeriod() {
    KeepFullSpeedWhileHidden();
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
