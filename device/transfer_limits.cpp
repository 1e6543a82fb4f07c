#include "device/transfer_limits.h"

uint32_t PagesSpanned(uintptr_t address, uint32_t length) {
    if (length == 0) {
        return 0;
    }
    uintptr_t first = address / PAGE_BYTES;
    uintptr_t last = (address + length - 1) / PAGE_BYTES;
    return static_cast<uint32_t>(last - first + 1);
}

bool AdapterTakes(const TransferLimits& limits, uintptr_t address, uint32_t length) {
    if ((address & limits.alignmentMask) != 0) {
        return false;
    }
    if (limits.maximumTransferLength != 0 && length > limits.maximumTransferLength) {
        return false;
    }
    return limits.maximumPhysicalPages == 0 ||
           PagesSpanned(address, length) <= limits.maximumPhysicalPages;
}
