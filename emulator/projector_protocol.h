#pragma once

#include <cstddef>
#include <cstdint>

// What the projector accepts, seen from the device's side of the cable. The virtual projector
// keeps its own copy of these facts rather than borrowing the host's constants, so that a
// mistake in the host's framing cannot be checked against itself.

namespace emu {

inline constexpr int kFrameWidth = 854;
inline constexpr int kFrameHeight = 480;
inline constexpr int kBytesPerPixel = 3;
inline constexpr size_t kFrameBytes = size_t{kFrameWidth} * kFrameHeight * kBytesPerPixel;

// A frame travels as 19 full slices and one short last slice, each in one write.
inline constexpr size_t kSliceBytes = 64512;
inline constexpr int kSlicesPerFrame = 20;
inline constexpr int kLastSlice = kSlicesPerFrame - 1;
inline constexpr size_t kLastSliceBytes = kFrameBytes - kLastSlice * kSliceBytes;
inline constexpr int kSliceWidth = 1024;  // a full slice is described as 1024 x 21 pixels
inline constexpr int kSliceHeight = 21;
inline constexpr int kLastSliceHeight = 32;  // and the last one as (n / 96) x 32

// Two frame banks of 8 MiB; slice k sits at bank base + (k + 1) x kSliceBytes.
inline constexpr uint32_t kMemoryBase = 0x80000000u;
inline constexpr uint32_t kBankBytes = 0x00800000u;
inline constexpr int kBankCount = 2;
inline constexpr size_t kMemoryBytes = size_t{kBankBytes} * kBankCount;

// Every write: 64 zero bytes (absent on the compressed frame's last slice), a 20-byte frame
// header, the payload, the 20-byte end marker.
inline constexpr size_t kLeadInBytes = 64;
inline constexpr size_t kHeaderBytes = 20;
inline constexpr size_t kEndMarkerBytes = 20;
inline constexpr uint8_t kEndMarker[kEndMarkerBytes] = {
    0xFB, 0x14, 0x02, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0x4F};

// Header values of the two slice kinds.
inline constexpr uint8_t kTypeRaw = 0;
inline constexpr uint8_t kTypeCompressed = 1;
inline constexpr uint8_t kRawFlags = 0x01;
inline constexpr uint8_t kCompressedFlags = 0x31;
inline constexpr uint8_t kCompressedWidthAttr = 2;
inline constexpr uint8_t kCompressedHdrByte18 = 4;
inline constexpr int kSegmentPixels = 64;

// Opcodes and their fixed CDB bytes.
inline constexpr uint8_t kOpWrite = 0xFF;
inline constexpr uint8_t kOpControl = 0xFE;
inline constexpr uint8_t kOpRead = 0xFD;
inline constexpr uint8_t kReadLinkSpeed = 0xA5;  // CDB byte 5 of the three reads
inline constexpr uint8_t kReadRegister = 0xFF;
inline constexpr uint8_t kReadFirmware = 0xA1;

inline constexpr uint16_t kCtrlOpen = 1;
inline constexpr uint16_t kCtrlFrameDone = 5;

inline constexpr uint8_t kRegFirmwareId = 0x14;
inline constexpr uint8_t kRegPowerMode = 0x35;
inline constexpr uint8_t kRegFault = 0x38;

inline constexpr size_t kReadReplyLimit = 84;

// Link-speed reply values (low two bits).
inline constexpr uint32_t kLinkSpeedMask = 3;
inline constexpr uint32_t kLinkNone = 0;
inline constexpr uint32_t kLinkUsb3 = 1;
inline constexpr uint32_t kLinkUsb2 = 2;
inline constexpr uint32_t kLinkUsb11 = 3;

}  // namespace emu
