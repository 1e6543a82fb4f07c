#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The standard SCSI commands a host's storage stack sends to a unit it has found (SPC and SBC,
// and the two MMC queries a host may put to an optical unit), answered for the projector's two
// units. Both are removable: the disk unit serves its small volume read-only; the optical unit
// (an optical memory device, which hosts drive as a disk) holds no medium, since frames reach
// it through the vendor commands only. Failures leave fixed-format sense data for the next
// REQUEST SENSE, which the transport's host asks for at once.

namespace gadget {

inline constexpr uint8_t PERIPHERAL_DISK = 0x00;
inline constexpr uint8_t PERIPHERAL_OPTICAL_MEMORY = 0x07;
inline constexpr uint32_t BLOCK_BYTES = 512;

inline constexpr uint8_t SENSE_NO_SENSE = 0x0;
inline constexpr uint8_t SENSE_NOT_READY = 0x2;
inline constexpr uint8_t SENSE_HARDWARE_ERROR = 0x4;
inline constexpr uint8_t SENSE_ILLEGAL_REQUEST = 0x5;
inline constexpr uint8_t SENSE_DATA_PROTECT = 0x7;

struct Sense {
    uint8_t key = SENSE_NO_SENSE;
    uint8_t asc = 0;  // additional sense code and its qualifier
    uint8_t ascq = 0;
};

inline constexpr Sense INVALID_FIELD_IN_CDB = {SENSE_ILLEGAL_REQUEST, 0x24, 0x00};

struct StorageUnit {
    uint8_t peripheralType = PERIPHERAL_DISK;
    std::string vendor;    // up to 8 characters
    std::string product;   // up to 16
    std::string revision;  // up to 4
    std::string serial;
    const std::vector<uint8_t>* medium = nullptr;  // BLOCK_BYTES blocks, read-only; null: none
    uint8_t targetLuns = 1;                        // the LUNs beside it, itself included
    Sense sense;                                   // for the next REQUEST SENSE
};

struct UnitAnswer {
    bool passed = true;         // false: CHECK CONDITION, with the unit's sense set
    std::vector<uint8_t> data;  // data in, cut to the command's allocation length
};

// The bytes of data out that a standard command carries, 0 for the others.
uint32_t DataOutLength(const uint8_t* cdb);

// Runs a standard command whose data out, if any, has been received (and is not needed: the
// units take no standard writes). Unknown commands fail with ILLEGAL REQUEST, INVALID COMMAND
// OPERATION CODE.
UnitAnswer RunStandardCommand(StorageUnit* unit, const uint8_t* cdb);

// Sets the unit's sense and returns the failed answer.
UnitAnswer Fail(StorageUnit* unit, Sense sense);

}  // namespace gadget
