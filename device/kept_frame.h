#pragma once

#include <cstdint>

// The frame the senders took last, kept slice by slice beside each full slice's codec unit.
// A slice whose bytes repeat is sent again from what is kept: a compare instead of the codec.
// Only the sender thread touches it.

// Takes `frame` (FRAME_BYTES) as the kept frame: every slice whose bytes differ is copied and
// its unit forgotten.
void KeepFrame(const uint8_t* frame);
const uint8_t* KeptFrame();

// The unit kept for full slice `slice` (the codec's output, header included) and its length,
// or nullptr when the slice has to be encoded.
const uint8_t* KeptUnit(uint32_t slice, uint32_t* length);
void KeepUnit(uint32_t slice, const uint8_t* unit, uint32_t length);
