#include "device/service_batch.h"

#include <cstring>

#include "device/scsi_commands.h"
#include "platform/debug_print.h"

namespace {

// Whether `request` is the next write of the held frame's run: slice 0 when none is held,
// else the slice after the last held one, in the same bank.
bool ContinuesRun(const HeldWrites& held, const ServiceRequest& request) {
    uint32_t slice = 0;
    uint32_t bank = 0;
    if (!SliceOfWrite(request, &slice, &bank)) {
        return false;
    }
    if (held.count == 0) {
        return slice == 0;
    }
    uint32_t lastSlice = 0;
    uint32_t lastBank = 0;
    SliceOfWrite(held.requests[held.count - 1], &lastSlice, &lastBank);
    return bank == lastBank && slice == lastSlice + 1;
}

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

uint32_t SendThroughBatch(HeldWrites* held, uint8_t* section, const ServiceRequest& record,
                          const ScsiRequest& request, BatchExchange exchange, void* context,
                          bool* lost) {
    *lost = false;
    uint32_t errors[SERVICE_BATCH_MAX];
    // The status poll's reads may come between the last slice and the frame-done.
    if (held->frameDoneSent && record.unit == SERVICE_UNIT_OPTICAL) {
        held->frameDoneSent = false;
        if (std::memcmp(&record, &held->frameDone, sizeof record) == 0) {
            return held->frameDoneResult;
        }
    }
    // Another request of the optical unit: the frame was abandoned mid-way. Its writes go as
    // they would have, their results to the trace.
    if (held->count > 0 && record.unit == SERVICE_UNIT_OPTICAL && !ContinuesRun(*held, record)) {
        const uint32_t count = held->count;
        held->count = 0;
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
    const bool continues = ContinuesRun(*held, record);
    if (continues && held->count + 1 < SLICES_PER_FRAME) {
        held->requests[held->count++] = record;
        return 0;
    }
    if (!continues) {
        if (!exchange(context, &record, slot, 1, request.dataBuffer, errors)) {
            held->count = 0;
            *lost = true;
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        return errors[0];
    }
    // The frame's last slice: the run, the slice and the frame-done in one exchange.
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
        held->frameDone = held->requests[writes];
        held->frameDoneResult = errors[writes];
    }
    return result;
}
