#include "gadget/bulk_only.h"

#include <algorithm>
#include <cstring>

namespace gadget {
namespace {

constexpr uint32_t CBW_SIGNATURE = 0x43425355;
constexpr uint32_t CSW_SIGNATURE = 0x53425355;
constexpr uint8_t CBW_FLAG_DATA_IN = 0x80;
constexpr uint8_t CBW_LUN_MASK = 0x0F;
constexpr uint8_t CBW_CDB_LENGTH_MASK = 0x1F;

uint32_t Little32(const uint8_t* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void PutLittle32(uint32_t value, uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

bool ParseCommandBlock(const uint8_t* bytes, size_t length, uint8_t maxLun, CommandBlock* block) {
    if (length != CBW_BYTES || Little32(bytes) != CBW_SIGNATURE) {
        return false;
    }
    uint8_t flags = bytes[12];
    uint8_t lun = bytes[13];
    uint8_t cdbLength = bytes[14];
    if ((flags & ~CBW_FLAG_DATA_IN) != 0 || (lun & ~CBW_LUN_MASK) != 0 || lun > maxLun ||
        (cdbLength & ~CBW_CDB_LENGTH_MASK) != 0 || cdbLength < 1 || cdbLength > CDB_BYTES) {
        return false;
    }
    *block = CommandBlock();
    block->tag = Little32(bytes + 4);
    block->dataLength = Little32(bytes + 8);
    block->direction = block->dataLength == 0            ? Direction::None
                       : (flags & CBW_FLAG_DATA_IN) != 0 ? Direction::In
                                                         : Direction::Out;
    block->lun = lun;
    block->cdbLength = cdbLength;
    std::memcpy(block->cdb, bytes + 15, cdbLength);
    return true;
}

void BuildCommandStatus(uint32_t tag, uint32_t residue, uint8_t status, uint8_t out[CSW_BYTES]) {
    PutLittle32(CSW_SIGNATURE, out);
    PutLittle32(tag, out + 4);
    PutLittle32(residue, out + 8);
    out[12] = status;
}

DataPlan PlanDataPhase(Direction hostDirection, uint32_t hostLength, Direction unitDirection,
                       uint32_t unitLength) {
    if (unitLength == 0) {
        unitDirection = Direction::None;
    }
    DataPlan plan;
    if (hostDirection == Direction::None) {
        // Cases 1 to 3: a unit that wants data the host does not move cannot run.
        plan.phaseError = unitDirection != Direction::None;
        plan.execute = !plan.phaseError;
        return plan;
    }
    if (hostDirection == Direction::In) {
        if (unitDirection == Direction::Out) {
            // Case 8.
            plan = {0, false, true, true, 0};
        } else if (unitLength > hostLength) {
            // Case 7: as much as the host takes, and the disagreement reported.
            plan = {hostLength, true, false, true, 0};
        } else {
            // Cases 4 to 6: a short answer ends with a halt, so the host stops waiting.
            plan = {unitLength, true, unitLength < hostLength, false, hostLength - unitLength};
        }
        return plan;
    }
    if (unitDirection == Direction::In) {
        // Case 10: the host's data is taken and dropped.
        plan = {hostLength, false, false, true, 0};
    } else if (unitLength > hostLength) {
        // Case 13.
        plan = {hostLength, false, false, true, 0};
    } else {
        // Cases 9, 11 and 12: what the unit does not want is read and dropped.
        plan = {hostLength, true, false, false, hostLength - unitLength};
    }
    return plan;
}

}  // namespace gadget
