// What reaches the device service on its pipe, and the agent from it: the input's first bytes
// are a request record as any local program may write it (zeros after a short input), checked
// as the service checks it; the rest is the service's hello as the agent reads it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/frame_transfer.h"
#include "device/service_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t record[SERVICE_REQUEST_BYTES] = {};
    std::copy_n(data, std::min<size_t>(size, sizeof record), record);
    const ServiceRequest request = DecodeServiceRequest(record);
    uint8_t wire[SERVICE_REQUEST_BYTES];
    EncodeServiceRequest(request, wire);
    if (std::memcmp(wire, record, sizeof record) != 0) {
        std::abort();
    }
    const char* reason = nullptr;
    if (IsProjectorRequest(request, &reason)) {
        // The service moves an allowed request's data through its one transfer buffer.
        if ((request.unit != SERVICE_UNIT_DISK && request.unit != SERVICE_UNIT_OPTICAL) ||
            request.dataTransferLength > TRANSFER_BUFFER_BYTES) {
            std::abort();
        }
        static uint8_t buffer[TRANSFER_BUFFER_BYTES];
        const ScsiRequest scsi = ToScsiRequest(request, buffer);
        if ((scsi.dataBuffer == nullptr) != (scsi.dataTransferLength == 0)) {
            std::abort();
        }
    } else if (reason == nullptr || *reason == '\0') {
        std::abort();  // a refusal is traced with its reason
    }

    uint8_t hello[SERVICE_HELLO_BYTES] = {};
    if (size > sizeof record) {
        std::copy_n(data + sizeof record, std::min<size_t>(size - sizeof record, sizeof hello),
                    hello);
    }
    const ServiceHello decoded = DecodeServiceHello(hello);
    for (const std::string& path : decoded.paths) {
        if (path.size() > SERVICE_PATH_CHARS) {
            std::abort();
        }
    }
    return 0;
}
