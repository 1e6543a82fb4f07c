#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "emulator/virtual_projector.h"

// A host written by hand from the protocol's bytes, independent of device/, to drive the
// virtual projector alone: good frames and every kind of bad one.

inline constexpr size_t kFrameBytes = 854 * 480 * 3;
inline constexpr size_t kSliceBytes = 64512;
inline constexpr size_t kLastSliceBytes = kFrameBytes - 19 * kSliceBytes;  // 4032

uint32_t SliceAddress(int bank, int slice);

// The 20-byte raw slice header for `bytes` bytes described as width x height.
std::vector<uint8_t> RawHeader(uint16_t width, uint16_t height, uint32_t bytes);

// The write of raw slice k of `frame`: lead-in (when asked), header, bytes, end marker.
std::vector<uint8_t> RawSliceWrite(const std::vector<uint8_t>& frame, int slice, bool leadIn);

// Puts the checksum into byte 19 of the header that starts at `header`.
void FixChecksum(uint8_t* header);

std::vector<uint8_t> NoiseFrame(uint32_t seed);

class HandHost {
  public:
    // Opens the units of projector `index` (in the order the interface list shows them).
    explicit HandHost(emu::VirtualProjector& projector, int index = 0);

    uint32_t Write(uint32_t address, const std::vector<uint8_t>& data);
    uint32_t Control(uint16_t code);
    uint32_t Send(DeviceHandle unit, ScsiRequest request) {
        return projector_.SendScsi(unit, request);
    }
    // A vendor read of `length` bytes into `reply` (cleared first).
    uint32_t Read(std::array<uint8_t, 16> cdb, uint8_t* reply, uint32_t length);
    uint32_t ReadRegister(uint8_t reg, uint8_t replyBytes, uint8_t* reply);
    uint32_t WriteRegister(uint8_t reg, uint8_t value);
    uint32_t LinkSpeed(uint32_t* value);

    // Twenty raw writes into `bank`, then frame-done; the first failing result, or 0.
    uint32_t SendRawFrame(const std::vector<uint8_t>& frame, int bank);

    static ScsiRequest WriteRequest(uint32_t address, const std::vector<uint8_t>& data);
    static ScsiRequest ControlRequest(uint16_t code);

    DeviceHandle disk = nullptr;
    DeviceHandle optical = nullptr;

  private:
    emu::VirtualProjector& projector_;
};
