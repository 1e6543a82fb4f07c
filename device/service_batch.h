#pragma once

#include <cstdint>

#include "device/service_channel.h"

// The agent's side of a batch. Between the frame senders' BeginFrame and EndFrame, the
// optical unit's writes are held back and cross the channel with the frame's last slice and
// the frame-done command that both senders send after a last slice that succeeded: one
// exchange a frame. The last slice's call returns the first failure among the writes, and the
// frame sender stops on it as it would have on the write that failed; the service runs a batch
// only up to its first failure, so the projector gets what it would have got from the
// in-process backend, up to that failure. The frame-done's result is kept for the sender's
// call that follows. Every other request crosses at once.
struct HeldWrites {
    ServiceRequest requests[SERVICE_BATCH_MAX];
    uint32_t count = 0;
    bool inFrame = false;        // between BeginFrame and EndFrame
    bool stale = false;          // the held writes are of a frame that stopped short
    bool frameDoneSent = false;  // the frame's frame-done already crossed with its last slice
    uint32_t frameDoneResult = 0;
};

// The frame senders' bounds (DeviceBackend::BeginFrame, EndFrame). A frame that stops short
// leaves its writes held; they cross, as they would have gone, before the optical unit's next
// request.
void BeginHeldFrame(HeldWrites* held);
void EndHeldFrame(HeldWrites* held);

// The transport: sends `count` requests whose write data is already in the section's slots
// from `first` on, and takes each one's result into `errors`; a read's reply goes to
// `readInto` when it is the batch's last request. False when the channel broke.
using BatchExchange = bool (*)(void* context, const ServiceRequest* requests, uint32_t first,
                               uint32_t count, void* readInto, uint32_t* errors);

// The request's result as the unit gave it, `request` being `record`'s data buffer; its write
// data is copied into `section` (SERVICE_SECTION_BYTES) first. *lost when the channel broke:
// the held writes are dropped then.
uint32_t SendThroughBatch(HeldWrites* held, uint8_t* section, const ServiceRequest& record,
                          const ScsiRequest& request, BatchExchange exchange, void* context,
                          bool* lost);
