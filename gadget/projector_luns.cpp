#include "gadget/projector_luns.h"

#include <algorithm>

#include "device/device_discovery.h"
#include "device/projector_identity.h"
#include "emulator/projector_protocol.h"

namespace gadget {
namespace {

constexpr uint8_t VENDOR_READ = 0xFD;
constexpr uint8_t VENDOR_CONTROL = 0xFE;
constexpr uint8_t VENDOR_WRITE = 0xFF;

// The most data a vendor command carries: a bank of the projector's memory. A host that
// announces more (up to 4 GiB) is refused, not given a buffer of that size.
constexpr uint32_t VENDOR_DATA_MOST = emu::kBankBytes;

// What the host learns when the core could not carry a command out.
constexpr Sense INTERNAL_TARGET_FAILURE = {SENSE_HARDWARE_ERROR, 0x44, 0x00};

StorageUnit MakeUnit(uint8_t type, const char* product, const std::string& serial,
                     const std::vector<uint8_t>* medium) {
    StorageUnit unit;
    unit.peripheralType = type;
    unit.vendor = PROJECTOR_VENDOR;
    unit.product = product;
    unit.revision = PROJECTOR_REVISION;
    unit.serial = serial;
    unit.medium = medium;
    unit.targetLuns = MAX_LUN + 1;
    return unit;
}

}  // namespace

bool IsVendorCommand(uint8_t opcode) {
    return opcode == VENDOR_READ || opcode == VENDOR_CONTROL || opcode == VENDOR_WRITE;
}

ProjectorLuns::ProjectorLuns(DeviceBackend* core, const std::vector<uint8_t>* volume,
                             std::string serial)
    : m_core(core),
      m_luns{{"optical",
              MakeUnit(PERIPHERAL_OPTICAL_MEMORY, PROJECTOR_OPTICAL_PRODUCT, serial, nullptr)},
             {"disk", MakeUnit(PERIPHERAL_DISK, PROJECTOR_DISK_PRODUCT, serial, volume)}} {}

ProjectorLuns::~ProjectorLuns() {
    for (Lun& lun : m_luns) {
        if (lun.coreUnit != nullptr) {
            m_core->CloseUnit(lun.coreUnit);
        }
    }
}

bool ProjectorLuns::Open(std::string* error) {
    // The core lists its units as the system would; each is found by its search text.
    for (uint32_t index = 0;; ++index) {
        std::string path;
        uint32_t code = 0;
        if (m_core->GetDiskInterface(index, &path, &code) != InterfaceLookup::Found) {
            break;
        }
        Lun* lun = PathContainsText(path, OPTICAL_UNIT_SEARCH_TEXT) ? &m_luns[OPTICAL_LUN]
                   : PathContainsText(path, DISK_UNIT_SEARCH_TEXT)  ? &m_luns[DISK_LUN]
                                                                    : nullptr;
        if (lun != nullptr && lun->coreUnit == nullptr) {
            lun->coreUnit = m_core->OpenUnit(path, &code);
        }
    }
    if (m_luns[OPTICAL_LUN].coreUnit == nullptr || m_luns[DISK_LUN].coreUnit == nullptr) {
        *error = "the projector core has no optical and disk unit to serve";
        return false;
    }
    return true;
}

uint32_t ProjectorLuns::DataOutWanted(const CommandBlock& block) const {
    if (IsVendorCommand(block.cdb[0])) {
        // The core judges whatever the host sends, up to a bank's worth; the rest is dropped.
        return block.direction == Direction::Out ? std::min(block.dataLength, VENDOR_DATA_MOST) : 0;
    }
    return DataOutLength(block.cdb);
}

LunReply ProjectorLuns::Run(const CommandBlock& block, const std::vector<uint8_t>& dataOut) {
    Lun* lun = &m_luns[block.lun];
    if (IsVendorCommand(block.cdb[0])) {
        return RunVendor(lun, block, dataOut);
    }
    UnitAnswer answer = RunStandardCommand(&lun->unit, block.cdb);
    return {answer.passed ? CSW_PASSED : CSW_FAILED, std::move(answer.data), false};
}

bool ProjectorLuns::UnplugNow(const CommandBlock& block) const {
    if (block.cdb[0] != VENDOR_WRITE || m_framesClosed < m_unplugAfterFrames) {
        return false;
    }
    uint32_t address = block.cdb[4] | block.cdb[5] << 8 | block.cdb[6] << 16 |
                       static_cast<uint32_t>(block.cdb[7]) << 24;
    uint32_t inBank = (address - emu::kMemoryBase) % emu::kBankBytes;
    return inBank == (emu::kSlicesPerFrame / 2 + 1) * emu::kSliceBytes;
}

LunReply ProjectorLuns::RunVendor(Lun* lun, const CommandBlock& block,
                                  const std::vector<uint8_t>& dataOut) {
    LunReply reply;
    if (UnplugNow(block)) {
        reply.deviceGone = true;
        return reply;
    }
    if (block.dataLength > VENDOR_DATA_MOST) {
        Fail(&lun->unit, INVALID_FIELD_IN_CDB);
        return {CSW_FAILED, {}, false};
    }
    ScsiRequest request{};
    std::copy(std::begin(block.cdb), std::end(block.cdb), request.cdb);
    request.dataTransferLength = block.dataLength;
    if (block.direction == Direction::In) {
        // The answer's bytes, then zeros up to what the host asked for.
        reply.dataIn.assign(block.dataLength, 0);
        request.dataIn = SCSI_IOCTL_DATA_IN;
        request.dataBuffer = reply.dataIn.data();
    } else if (block.direction == Direction::Out) {
        request.dataIn = SCSI_IOCTL_DATA_OUT;
        request.dataBuffer = const_cast<uint8_t*>(dataOut.data());  // the core only reads it
    }
    uint32_t result = m_core->SendScsi(lun->coreUnit, request);
    if (result == ERROR_DEVICE_NOT_CONNECTED) {
        reply.deviceGone = true;
    } else if (result != 0) {
        Fail(&lun->unit, INTERNAL_TARGET_FAILURE);
        reply = {CSW_FAILED, {}, false};
    } else {
        lun->unit.sense = Sense();
        bool frameDone = block.cdb[0] == VENDOR_CONTROL && block.cdb[6] == emu::kCtrlFrameDone &&
                         block.cdb[7] == 0;
        m_framesClosed += frameDone ? 1 : 0;
    }
    return reply;
}

void ProjectorLuns::Record(const CommandBlock& block, uint8_t status, uint32_t dataMoved) {
    const Lun& lun = m_luns[block.lun];
    m_tally.Add(lun.name, block, status, lun.unit.sense, dataMoved);
}

}  // namespace gadget
