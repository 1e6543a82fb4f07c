#include "device/service_batch.h"

#include <cstring>

#include "device/scsi_commands.h"
#include "platform/debug_print.h"

namespace {

// The frame-done command with the stream fields of the frame's last slice.
ServiceRequest FrameDoneAfter(const ServiceRequest& lastSlice) {
    ServiceRequest done = lastSlice;
    const Cdb cdb = BuildControlCdb(CTRL_FRAME_DONE);
    std::memcpy(done.cdb, cdb.data(), cdb.size());
    done.dataTransferLength = 0;
    return done;
}

uint32_t FirstFailure(const uint32_t* errors, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (errors[i] != 0) {
            return errors[i];
        }
    }
    return 0;
}

}  // namespace

void BeginHeldFrame(HeldWrites* held) {
    held->inFrame = true;
    held->frameDoneSent = false;
}

void EndHeldFrame(HeldWrites* held) {
    held->inFrame = false;
    held->frameDoneSent = false;
    held->stale = held->count > 0;
}

uint32_t SendThroughBatch(HeldWrites* held, uint8_t* section, const ServiceRequest& record,
                          const ScsiRequest& request, BatchExchange exchange, void* context,
                          bool* lost) {
    *lost = false;
    uint32_t errors[SERVICE_BATCH_MAX];
    const bool optical = record.unit == SERVICE_UNIT_OPTICAL;
    // The frame's own frame-done, which crossed with its last slice. The status poll's reads
    // may come between.
    if (optical && held->frameDoneSent) {
        held->frameDoneSent = false;
        return held->frameDoneResult;
    }
    // A frame that stopped short: its writes go before this request as they would have gone,
    // their results to the trace.
    if (optical && held->stale) {
        const uint32_t count = held->count;
        held->count = 0;
        held->stale = false;
        if (!exchange(context, held->requests, 0, count, nullptr, errors)) {
            *lost = true;
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        if (FirstFailure(errors, count) != 0) {
            DebugPrint("vorn_kvusb: an abandoned frame's slice writes failed (%u)\n",
                       FirstFailure(errors, count));
        }
    }
    // The request's data goes in the slot after the held writes', whether it joins them or
    // crosses alone.
    const uint32_t slot = held->count;
    if (record.dataIn == SCSI_IOCTL_DATA_OUT && record.dataTransferLength > 0) {
        if (record.dataTransferLength > SERVICE_SLOT_BYTES) {
            return SERVICE_REFUSED;
        }
        std::memcpy(section + size_t{slot} * SERVICE_SLOT_BYTES, request.dataBuffer,
                    record.dataTransferLength);
    }
    // Within a frame the optical unit is sent its slice writes only.
    const bool slice = optical && held->inFrame;
    if (slice && held->count + 1 < SLICES_PER_FRAME) {
        held->requests[held->count++] = record;
        return 0;
    }
    if (!slice) {
        if (!exchange(context, &record, slot, 1, request.dataBuffer, errors)) {
            held->count = 0;
            held->stale = false;
            *lost = true;
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        return errors[0];
    }
    // The frame's last slice: the held writes, the slice and the frame-done in one exchange.
    const uint32_t writes = held->count + 1;
    held->requests[held->count] = record;
    held->requests[writes] = FrameDoneAfter(record);
    held->count = 0;
    if (!exchange(context, held->requests, 0, writes + 1, nullptr, errors)) {
        *lost = true;
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    const uint32_t result = FirstFailure(errors, writes);
    if (result == 0) {
        held->frameDoneSent = true;
        held->frameDoneResult = errors[writes];
    }
    return result;
}
