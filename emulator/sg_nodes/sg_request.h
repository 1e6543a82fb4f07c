#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_backend.h"

// One SG_IO request as the virtual projector's sg node receives it: what the sg driver would
// refuse, what the header holds that the program does not send, and the pass-through request
// it carries for the projector's core.

namespace emu {

// Who fills the SG_IO header, which decides what it must hold.
enum class SgCaller {
    Native,  // the program's Linux backend; SG_IO has no TargetId
    Wine64,  // Wine's pass-through, from the x64 SCSI_PASS_THROUGH_DIRECT record behind it
};

struct SgIntake {
    ScsiRequest request{};
    int refusal = 0;                  // errno with which the sg driver refuses it, 0 if none
    std::vector<std::string> errors;  // what breaks the program's request, empty if none
};

// Reads `header` as the sg driver and the projector see it. For Wine64 the record is found
// behind the header's command bytes, where Wine points them, and checked field by field.
SgIntake ReadSgRequest(const sg_io_hdr& header, SgCaller caller);

// Completes `header` with the core's result for it (0, ERROR_DEVICE_NOT_CONNECTED or an errno
// value) as the sg driver does: the ioctl's result, and in *error the errno of a failure.
int CompleteSgRequest(uint32_t result, uint32_t milliseconds, sg_io_hdr* header, int* error);

// Completes `header` as the kernel completes the request in flight when its USB device goes:
// the ioctl succeeds, the host adapter reports an error, and nothing was transferred.
void CompleteLostSgRequest(uint32_t milliseconds, sg_io_hdr* header);

}  // namespace emu
