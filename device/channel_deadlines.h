#pragma once

#include <cstdint>

// How long either end of the service channel waits on the other. The service waits on a
// client only as long as the agent itself would take; the agent waits on the service as long
// as the slowest batch the service may legitimately run.

enum class ChannelWait {
    Greeting,      // service: a client's first word, which its identity comes with
    Reply,         // service: its hello or a refusal reaching the client's pipe
    NextBatch,     // service: the next batch header; the agent polls the projector every second
    RestOfBatch,   // service: the records after a header
    Answer,        // service: a batch's answer reaching the client's pipe
    ServiceHello,  // agent: the service's hello after the agent's greeting
    BatchAnswer,   // agent: a batch's answer
};

// The tick count (milliseconds) by which a wait of this kind begun at `now` must have ended.
uint64_t ChannelDeadline(ChannelWait wait, uint64_t now);

// What is left of a wait at `now`: 0 once its deadline has passed, and never the system's
// "infinite".
uint32_t MillisecondsLeft(uint64_t deadline, uint64_t now);
