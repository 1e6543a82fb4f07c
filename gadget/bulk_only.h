#pragma once

#include <cstddef>
#include <cstdint>

// The USB mass-storage class's Bulk-Only Transport, seen from the device: the 31-byte command
// block wrapper (CBW) the host sends on bulk-out, the 13-byte command status wrapper (CSW) the
// device answers on bulk-in, and how the data phase the host announced meets the one the unit
// wants (the thirteen cases of what the host and the device each expect).
//
//   CBW: 0 signature "USBC" (LE 0x43425355), 4 tag, 8 data length (LE), 12 flags (bit 7:
//        data in), 13 LUN (bits 0-3), 14 CDB length (bits 0-4, 1 to 16), 15-30 the CDB
//   CSW: 0 signature "USBS" (LE 0x53425355), 4 the CBW's tag, 8 residue (LE), 12 status

namespace gadget {

inline constexpr size_t CBW_BYTES = 31;
inline constexpr size_t CSW_BYTES = 13;
inline constexpr size_t CDB_BYTES = 16;

inline constexpr uint8_t CSW_PASSED = 0;
inline constexpr uint8_t CSW_FAILED = 1;
inline constexpr uint8_t CSW_PHASE_ERROR = 2;

// Class requests on the control endpoint.
inline constexpr uint8_t REQUEST_GET_MAX_LUN = 0xFE;
inline constexpr uint8_t REQUEST_MASS_STORAGE_RESET = 0xFF;

enum class Direction { None, In, Out };  // In: device to host

struct CommandBlock {
    uint32_t tag = 0;
    uint32_t dataLength = 0;
    Direction direction = Direction::None;  // None exactly when dataLength is 0
    uint8_t lun = 0;
    uint8_t cdbLength = 0;
    uint8_t cdb[CDB_BYTES] = {};  // the bytes past cdbLength are 0
};

// False for a CBW that is not valid (its length or signature) or not meaningful (reserved
// bits set, a LUN above `maxLun`, a CDB length outside 1 to 16).
bool ParseCommandBlock(const uint8_t* bytes, size_t length, uint8_t maxLun, CommandBlock* block);

void BuildCommandStatus(uint32_t tag, uint32_t residue, uint8_t status, uint8_t out[CSW_BYTES]);

// How the data phase is carried out once host and unit have both said what they expect.
struct DataPlan {
    uint32_t transfer = 0;  // bytes moved in the host's direction
    bool execute = true;    // false on a phase error: the command is not run
    bool stallIn = false;   // halt bulk-in after the transfer, so the host stops reading
    bool phaseError = false;
    uint32_t residue = 0;
};

// `hostLength` and `hostDirection` from the CBW; the unit's `unitLength` bytes in
// `unitDirection` (None when it moves no data). Data out that the unit does not want is
// read and discarded rather than stalled, which the class allows and every host handles.
DataPlan PlanDataPhase(Direction hostDirection, uint32_t hostLength, Direction unitDirection,
                       uint32_t unitLength);

}  // namespace gadget
