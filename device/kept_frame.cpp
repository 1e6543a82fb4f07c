#include "device/kept_frame.h"

#include <algorithm>
#include <cstring>

#include "device/frame_transfer.h"

namespace {

constexpr uint32_t kFullSlices = FRAME_BYTES / SLICE_BYTES;  // 19
constexpr uint32_t kMaxUnitBytes = TRANSFER_BUFFER_BYTES - LEAD_IN_BYTES - END_MARKER_BYTES;
constexpr uint32_t kSlotBytes = (SLICE_WRITE_BYTES + PAGE_BYTES - 1) / PAGE_BYTES * PAGE_BYTES;

alignas(PAGE_BYTES) uint8_t g_KeptSlots[kFullSlices + 1][kSlotBytes];
// Touched only as far as units reach, so a desktop's short units cost little memory.
uint8_t g_KeptUnits[kFullSlices][kMaxUnitBytes];
uint32_t g_KeptUnitLengths[kFullSlices];  // 0: none kept

}  // namespace

void KeepFrame(const uint8_t* frame) {
    for (uint32_t start = 0, slice = 0; start < FRAME_BYTES; start += SLICE_BYTES, ++slice) {
        uint32_t length = std::min(SLICE_BYTES, FRAME_BYTES - start);
        uint8_t* kept = g_KeptSlots[slice] + KEPT_SLICE_OFFSET;
        if (std::memcmp(kept, frame + start, length) == 0) {
            continue;
        }
        std::memcpy(kept, frame + start, length);
        if (slice < kFullSlices) {
            g_KeptUnitLengths[slice] = 0;
        }
    }
}

uint8_t* KeptSlot(uint32_t slice) {
    return g_KeptSlots[slice];
}

const uint8_t* KeptUnit(uint32_t slice, uint32_t* length) {
    *length = g_KeptUnitLengths[slice];
    return *length != 0 ? g_KeptUnits[slice] : nullptr;
}

void KeepUnit(uint32_t slice, const uint8_t* unit, uint32_t length) {
    std::memcpy(g_KeptUnits[slice], unit, length);
    g_KeptUnitLengths[slice] = length;
}
