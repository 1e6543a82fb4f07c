#pragma once

#include <cstdint>

// What the storage adapter behind a unit takes in one pass-through request, as the system
// reports it. The request hands the caller's buffer to the adapter as it is, so a buffer must
// meet them all.
struct TransferLimits {
    uint32_t alignmentMask = 0;          // a buffer's address AND the mask must be 0
    uint32_t maximumTransferLength = 0;  // bytes in one request
    uint32_t maximumPhysicalPages = 0;   // pages one buffer may touch
};

inline constexpr uint32_t PAGE_BYTES = 4096;

// The memory pages that `length` bytes from `address` touch.
uint32_t PagesSpanned(uintptr_t address, uint32_t length);

// True when one request of `length` bytes from a buffer at `address` is within `limits`. A
// limit of 0 is one the adapter did not state, and holds nothing back.
bool AdapterTakes(const TransferLimits& limits, uintptr_t address, uint32_t length);
