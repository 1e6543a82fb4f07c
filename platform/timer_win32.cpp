#include <windows.h>
// timeapi.h builds on the types windows.h declares.
#include <timeapi.h>

#include "platform/timer.h"

void BeginOneMsTimerPeriod() {
    timeBeginPeriod(1);
}

uint32_t GetTimeMs() {
    return timeGetTime();
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
