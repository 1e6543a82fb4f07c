#include <chrono>
#include <thread>

#include "platform/timer.h"

// The monotonic clock and nanosleep are already exact to the millisecond.
void BeginOneMsTimerPeriod() {}

uint32_t GetTimeMs() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// No window messages here.
void SleepMsAnsweringMessages(uint32_t milliseconds) {
    SleepMs(milliseconds);
}
