#pragma once

#include <windows.h>

#include <cstdint>

// What one transfer on an overlapped pipe handle waits for: its own event, the tick count
// (GetTickCount64) it must be done by, and up to two events that end it early (nullptr: none;
// `drop` only with `stop`).
struct PipeWaits {
    HANDLE event;
    uint64_t deadline;
    HANDLE stop;
    HANDLE drop;
};

// Moves exactly `length` bytes through `pipe` (opened with FILE_FLAG_OVERLAPPED). False when
// the pipe broke, the deadline passed or a stop or drop event was set: the I/O is cancelled,
// and the pipe is of no further use.
bool MovePipeBytes(HANDLE pipe, bool write, void* buffer, uint32_t length, const PipeWaits& waits);
