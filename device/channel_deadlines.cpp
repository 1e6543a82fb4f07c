#include "device/channel_deadlines.h"

#include "device/scsi_commands.h"
#include "device/service_channel.h"

namespace {

// The fault status, from the tray's timer; a display mode change may hold it a few seconds.
constexpr uint64_t AGENT_POLL_MS = 1000;
constexpr uint64_t NEXT_BATCH_MS = 8 * AGENT_POLL_MS;
// Every request of a full batch may take its own timeout, a status read the longest.
constexpr uint64_t LONGEST_BATCH_MS =
    (SERVICE_BATCH_MAX * STREAM_TIMEOUT_SECONDS + STATUS_TIMEOUT_SECONDS) * 1000;
constexpr uint32_t LONGEST_WAIT_MS = 0xFFFFFFFE;  // 0xFFFFFFFF is INFINITE

}  // namespace

uint64_t ChannelDeadline(ChannelWait wait, uint64_t now) {
    switch (wait) {
        case ChannelWait::Greeting:
        case ChannelWait::RestOfBatch:
            return now + 2000;
        case ChannelWait::Reply:
        case ChannelWait::Answer:
            return now + 1000;  // a few kilobytes into a pipe buffer of 64
        case ChannelWait::NextBatch:
            return now + NEXT_BATCH_MS;
        case ChannelWait::ServiceHello:
            return now + 3000;
        case ChannelWait::BatchAnswer:
            return now + LONGEST_BATCH_MS + 2000;
    }
    return now;
}

uint32_t MillisecondsLeft(uint64_t deadline, uint64_t now) {
    if (deadline <= now) {
        return 0;
    }
    return deadline - now >= LONGEST_WAIT_MS ? LONGEST_WAIT_MS
                                             : static_cast<uint32_t>(deadline - now);
}
