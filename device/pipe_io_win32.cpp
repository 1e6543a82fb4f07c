#include "device/pipe_io_win32.h"

#include "device/channel_deadlines.h"

bool MovePipeBytes(HANDLE pipe, bool write, void* buffer, uint32_t length, const PipeWaits& waits) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = waits.event;
        DWORD moved = 0;
        BOOL done = write ? WriteFile(pipe, bytes, length, &moved, &overlapped)
                          : ReadFile(pipe, bytes, length, &moved, &overlapped);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            HANDLE handles[3] = {waits.event, waits.stop, waits.drop};
            DWORD count = waits.stop == nullptr ? 1 : waits.drop == nullptr ? 2 : 3;
            const DWORD left = MillisecondsLeft(waits.deadline, GetTickCount64());
            if (WaitForMultipleObjects(count, handles, FALSE, left) != WAIT_OBJECT_0) {
                CancelIoEx(pipe, &overlapped);
            }
            // The buffer is ours again only once the I/O is complete or cancelled.
            done = GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
        }
        if (!done || moved == 0) {
            return false;
        }
        bytes += moved;
        length -= moved;
    }
    return true;
}
