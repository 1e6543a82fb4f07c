#pragma once

#include <cstdint>

#include "device/frame_transfer.h"

// The frame the senders took last, kept slice by slice beside each full slice's codec unit.
// A slice whose bytes repeat is sent again from what is kept: a compare instead of the codec.
// Each slice's bytes sit in a page-aligned slot with room for the lead-in and raw header
// before them and the end marker after, so that a raw slice is written from where it is kept
// rather than copied to the staging buffer first; a slot is aligned as that buffer is, so an
// adapter that takes a slice from the one takes it from the other. Only the sender thread
// touches it.

// Where a slice's bytes start in its slot.
inline constexpr uint32_t KEPT_SLICE_OFFSET = LEAD_IN_BYTES + SLICE_HEADER_BYTES;

// Takes `frame` (FRAME_BYTES) as the kept frame: every slice whose bytes differ is copied and
// its unit forgotten.
void KeepFrame(const uint8_t* frame);

// Slice `slice`'s slot: SLICE_WRITE_BYTES, page-aligned, the slice's bytes at
// KEPT_SLICE_OFFSET. The bytes around them are the caller's.
uint8_t* KeptSlot(uint32_t slice);

// The unit kept for full slice `slice` (the codec's output, header included) and its length,
// or nullptr when the slice has to be encoded.
const uint8_t* KeptUnit(uint32_t slice, uint32_t* length);
void KeepUnit(uint32_t slice, const uint8_t* unit, uint32_t length);
