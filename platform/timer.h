#pragma once

#include <cstdint>

// Millisecond timing for the frame pipeline.

// Sets the system timer resolution to 1 ms for the rest of the run, so that 1-ms sleeps and
// GetTimeMs readings are exact to the millisecond; on Windows it also keeps the hidden program
// out of the power throttling that would slow its threads and coarsen its timers.
void BeginOneMsTimerPeriod();

// Milliseconds since some fixed moment; wraps around after 49.7 days.
uint32_t GetTimeMs();

void SleepMs(uint32_t milliseconds);

// Sleeps like SleepMs while still answering the window messages that other threads send to
// this thread, so that a thread waiting for another never blocks that one's SendMessage.
void SleepMsAnsweringMessages(uint32_t milliseconds);
