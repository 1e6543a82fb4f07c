#pragma once

#include <array>
#include <cstdint>

#include "device/device_backend.h"

// The projector's vendor SCSI vocabulary: four commands, each one pass-through request on an
// open unit. Every CDB is built here and nowhere else.

using Cdb = std::array<uint8_t, 16>;

inline constexpr uint8_t OPCODE_WRITE = 0xFF;
inline constexpr uint8_t OPCODE_CONTROL = 0xFE;
inline constexpr uint8_t OPCODE_READ = 0xFD;

// Control codes.
inline constexpr uint16_t CTRL_OPEN = 1;
inline constexpr uint16_t CTRL_FRAME_DONE = 5;

inline constexpr uint32_t STREAM_TIMEOUT_SECONDS = 2;
inline constexpr uint32_t STATUS_TIMEOUT_SECONDS = 10;

// FF 00 00 00, the address least significant byte first, then zeros: the device learns the
// length from the transfer.
Cdb BuildWriteCdb(uint32_t address);
// FE 00 00 00 C0 D1, the code least significant byte first, 40 00 01.
Cdb BuildControlCdb(uint16_t code);
// FD 00 00 00 C0 A5 00 00 00 A0 04.
Cdb BuildLinkSpeedCdb();
// FD 00 00 00 C0 FF reg write value 00 replyBytes: a microcontroller register read or write.
Cdb BuildMcuRegisterCdb(uint8_t reg, bool write, uint8_t value, uint8_t replyBytes);
// FD 00 00 00 C0 A1: the driverless firmware version.
Cdb BuildDriverlessFirmwareCdb();

// The vendor read's record: the caller's CDB, then the reply area.
inline constexpr uint32_t READ_REPLY_BYTES = 84;
struct ReadRequest {
    uint8_t cdb[16];
    uint8_t reply[READ_REPLY_BYTES];
};
static_assert(sizeof(ReadRequest) == 100);

// Sends `length` bytes to the device `address` on the optical unit. 0, 1167 when the unit is
// gone, -1 on any other failure (traced).
int scsi_cmd_write_driverless(DeviceHandle handle, const uint8_t* buffer, uint32_t length,
                              uint32_t address);
// Sends a control command. 0, 1167 or -1 like the write.
int scsi_cmd_control_driverless(DeviceHandle handle, uint16_t code);
// Queries the link speed on g_hDisk2 into g_USB3_0. 0, or -1 with g_USB3_0 unchanged.
int scsi_cmd_read_link_speed();
// Sends request->cdb on `handle` and receives up to `length` bytes (at most 84) into
// request->reply. 4 on success, 0 on failure.
int scsi_cmd_read_driverless(ReadRequest* request, DeviceHandle handle, uint32_t length);
