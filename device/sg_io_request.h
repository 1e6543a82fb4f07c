#pragma once

#include <scsi/sg.h>

#include <cstdint>

#include "device/device_backend.h"

// The Linux form of one pass-through request: an SG_IO header for the unit's sg node.

// The header for `request`, with `sense` (request.senseInfoLength bytes) receiving the sense
// data. The CDB is read from the request itself, which must outlive the call.
sg_io_hdr BuildSgIoRequest(const ScsiRequest& request, uint8_t* sense);

// The seam's result for one SG_IO call: `ioctlResult` and `ioctlErrno` of the call, `header`
// as it came back. 0 when the command completed (whatever the device's SCSI status), 1167
// when the unit is gone, else an errno value.
uint32_t SgIoResult(int ioctlResult, int ioctlErrno, const sg_io_hdr& header);
