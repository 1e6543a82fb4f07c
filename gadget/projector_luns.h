#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_backend.h"
#include "gadget/bulk_only.h"
#include "gadget/command_tally.h"
#include "gadget/scsi_unit.h"

// The projector's two logical units behind the transport: LUN 0 the optical unit
// (TR40W17B6-1), LUN 1 the disk unit (TR40W17B6-2). Standard commands are answered here; the
// vendor commands (opcodes 0xFD, 0xFE, 0xFF) go, on the unit they arrived at, to the projector
// core behind `core`, which checks, records and answers them as it does in process.

namespace gadget {

inline constexpr uint8_t OPTICAL_LUN = 0;
inline constexpr uint8_t DISK_LUN = 1;
inline constexpr uint8_t MAX_LUN = DISK_LUN;

struct LunReply {
    uint8_t status = CSW_PASSED;  // CSW_PASSED or CSW_FAILED
    std::vector<uint8_t> dataIn;
    bool deviceGone = false;  // the core's projector vanished: the device must leave the bus
};

class ProjectorLuns {
  public:
    // `core` answers the vendor commands on its first projector's units; `volume` is what the
    // disk unit serves. Both must outlive this.
    ProjectorLuns(DeviceBackend* core, const std::vector<uint8_t>* volume, std::string serial);
    ~ProjectorLuns();
    ProjectorLuns(const ProjectorLuns&) = delete;
    ProjectorLuns& operator=(const ProjectorLuns&) = delete;

    // Opens the core's two units; false with the reason.
    bool Open(std::string* error);

    // The bytes of data out that the unit wants for `block`.
    uint32_t DataOutWanted(const CommandBlock& block) const;

    // Runs the command with the data out received (as much as DataOutWanted asked for).
    LunReply Run(const CommandBlock& block, const std::vector<uint8_t>& dataOut);

    // At the write of the middle slice of the frame after `frames` closed ones, the device
    // leaves the bus without answering, as when the cable is pulled in the middle of a frame.
    void UnplugAfterFrames(uint64_t frames) { m_unplugAfterFrames = frames; }

    // Tallies how a command went: the CSW's status and the bytes of data moved.
    void Record(const CommandBlock& block, uint8_t status, uint32_t dataMoved);
    const CommandTally& Tally() const { return m_tally; }

  private:
    struct Lun {
        const char* name;
        StorageUnit unit;
        DeviceHandle coreUnit = nullptr;
    };
    LunReply RunVendor(Lun* lun, const CommandBlock& block, const std::vector<uint8_t>& dataOut);
    bool UnplugNow(const CommandBlock& block) const;

    DeviceBackend* m_core;
    Lun m_luns[MAX_LUN + 1];
    CommandTally m_tally;
    uint64_t m_framesClosed = 0;
    uint64_t m_unplugAfterFrames = UINT64_MAX;
};

// True for the projector's own opcodes, which only its core answers.
bool IsVendorCommand(uint8_t opcode);

}  // namespace gadget
