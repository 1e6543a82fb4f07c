#pragma once

#include <cstdint>

#include "codec/frame_codec.h"
#include "device/transfer_limits.h"

// Moves one captured frame into one of the projector's two frame banks: 19 full slices and
// one short last slice, each in one vendor write, then the frame-done control command.

inline constexpr uint32_t FRAME_BYTES = 854 * 480 * 3;  // 1,229,760
inline constexpr uint32_t SLICE_BYTES = 0xFC00;         // 64,512 = 1024 x 21 x 3
inline constexpr uint32_t BANK0_BASE = 0x80000000;
inline constexpr uint32_t BANK1_BASE = 0x80800000;

inline constexpr uint32_t SLICE_HEADER_BYTES = 20;
inline constexpr uint32_t LEAD_IN_BYTES = 64;
inline constexpr uint32_t END_MARKER_BYTES = 20;
// The staging buffer holds the lead-in, the codec's worst case for one slice and the end
// marker.
inline constexpr uint32_t TRANSFER_BUFFER_BYTES = 2 * SLICE_BYTES + 40;  // 129,064
// One raw slice with its lead-in, header and end marker: the write the optical unit's adapter
// must take in one request.
inline constexpr uint32_t SLICE_WRITE_BYTES =
    LEAD_IN_BYTES + SLICE_HEADER_BYTES + SLICE_BYTES + END_MARKER_BYTES;  // 64,616

// Page-aligned, as a pass-through buffer meets any adapter's alignment and spans the fewest
// pages then.
alignas(PAGE_BYTES) extern uint8_t g_TransferBuffer[TRANSFER_BUFFER_BYTES];
extern uint8_t g_EndMarker[END_MARKER_BYTES];

// The frame bank of the next frame: 0 bank 0, 1 bank 1. The frame pipeline flips it after
// every frame; the senders only read it.
extern int g_bFrameToggle;

// The codec parameters of a full slice as the compressed sender encodes it: 1024 x 21 pixels
// of 3 bytes, rows top-down, the packed segment coder (flags 0x31).
FrameCodecParams CompressedSliceParams();

// Fills g_EndMarker: FB 14 02 20 00 .. 00 80 00 00 4F. Runs once at start-up.
void BuildEndMarker();

// Fills a raw slice header: FB 14, zeros, the width and height (16 bits) and the byte count
// (32 bits), least significant byte first, flags 0x01, then the checksum.
void BuildSliceHeader(uint8_t* header, uint16_t width, uint16_t height, uint32_t byteCount);

// Asked before each slice is written: true abandons the frame with -1, sending nothing more
// (no frame-done), so that closing a capture session never waits for a whole frame on a slow
// link. The frame pipeline installs it; without one every frame is sent whole.
using FrameCancelCheck = bool (*)();
void SetFrameCancelCheck(FrameCancelCheck check);

// Send the FRAME_BYTES bytes at `frame`: 0 sent, 1167 the projector is gone, -1 any other
// failure. Raw for a USB 3.0 link; compressed (full slices through the codec) otherwise.
// Either sender keeps the frame it takes, so the slices that repeat the last frame's bytes
// are not encoded again; `frame` nullptr sends the kept frame again, compared with nothing.
// What goes to the projector is the same either way.
int SendFrameRaw(const uint8_t* frame);
int SendFrameCompressed(const uint8_t* frame);
