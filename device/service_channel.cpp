#include "device/service_channel.h"

#include <algorithm>
#include <cstring>

#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"

namespace {

// The fields the command layer sets besides the CDB.
constexpr uint8_t TARGET_STREAM = 1;
constexpr uint8_t TARGET_VENDOR_READ = 3;
constexpr uint8_t SENSE_BYTES = 32;
constexpr uint8_t READ_SENSE_BYTES = 24;
constexpr uint32_t LINK_SPEED_REPLY_BYTES = 4;
constexpr uint32_t REGISTER_REPLY_BYTES = 4;
constexpr uint32_t FIRMWARE_REPLY_BYTES = 10;

constexpr uint32_t SLICES_PER_FRAME = (FRAME_BYTES + SLICE_BYTES - 1) / SLICE_BYTES;  // 20
constexpr uint32_t LAST_SLICE_BYTES = FRAME_BYTES - (SLICES_PER_FRAME - 1) * SLICE_BYTES;
// The raw sender writes the last slice with its lead-in, the compressed one without.
constexpr uint32_t LAST_RAW_WRITE_BYTES =
    LEAD_IN_BYTES + SLICE_HEADER_BYTES + LAST_SLICE_BYTES + END_MARKER_BYTES;  // 4,136
constexpr uint32_t LAST_COMPRESSED_WRITE_BYTES = LAST_RAW_WRITE_BYTES - LEAD_IN_BYTES;
// A full slice: the codec's unit (header, at least one payload word, padded to whole words)
// between lead-in and end marker, up to the staging buffer; a raw slice is one such length.
constexpr uint32_t FULL_WRITE_MIN_BYTES = LEAD_IN_BYTES + SLICE_HEADER_BYTES + 4 + END_MARKER_BYTES;
constexpr uint32_t FULL_WRITE_MAX_BYTES = TRANSFER_BUFFER_BYTES;
static_assert(SLICE_WRITE_BYTES % 4 == 0 && SLICE_WRITE_BYTES <= FULL_WRITE_MAX_BYTES);

void PutWord(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetWord(const uint8_t* in) {
    return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
           (uint32_t{in[3]} << 24);
}

bool SameCdb(const ServiceRequest& request, const Cdb& cdb) {
    return std::memcmp(request.cdb, cdb.data(), cdb.size()) == 0;
}

bool Refuse(const char** reason, const char* why) {
    *reason = why;
    return false;
}

// The fields besides the CDB and the length, as the command layer sets them.
bool StreamFields(const ServiceRequest& request, uint8_t dataIn) {
    return request.targetId == TARGET_STREAM && request.senseInfoLength == SENSE_BYTES &&
           request.dataIn == dataIn && request.timeOutValue == STREAM_TIMEOUT_SECONDS;
}

bool VendorReadFields(const ServiceRequest& request) {
    return request.targetId == TARGET_VENDOR_READ && request.senseInfoLength == READ_SENSE_BYTES &&
           request.dataIn == SCSI_IOCTL_DATA_IN && request.timeOutValue == STATUS_TIMEOUT_SECONDS;
}

// The reply length of a status or control read with this CDB, or 0 when it is none of them.
uint32_t StatusReadLength(const ServiceRequest& request) {
    if (SameCdb(request, BuildMcuRegisterCdb(MCU_REG_FAULT, false, 0, 1)) ||
        SameCdb(request, BuildMcuRegisterCdb(MCU_REG_POWER, false, 0, 1)) ||
        SameCdb(request, BuildMcuRegisterCdb(MCU_REG_POWER, true, POWER_MODE_AUTO, 1)) ||
        SameCdb(request, BuildMcuRegisterCdb(MCU_REG_POWER, true, POWER_MODE_ECO, 1)) ||
        SameCdb(request, BuildMcuRegisterCdb(MCU_REG_FWID, false, 0, MCU_FIRMWARE_ID_BYTES))) {
        return REGISTER_REPLY_BYTES;
    }
    if (SameCdb(request, BuildDriverlessFirmwareCdb())) {
        return FIRMWARE_REPLY_BYTES;
    }
    return 0;
}

bool CheckDiskRequest(const ServiceRequest& request, const char** reason) {
    if (SameCdb(request, BuildLinkSpeedCdb())) {
        if (!StreamFields(request, SCSI_IOCTL_DATA_IN) ||
            request.dataTransferLength != LINK_SPEED_REPLY_BYTES) {
            return Refuse(reason, "link-speed read of another shape");
        }
        return true;
    }
    uint32_t length = StatusReadLength(request);
    if (length == 0) {
        return Refuse(reason, "not a status or control read of the disk unit");
    }
    if (!VendorReadFields(request) || request.dataTransferLength != length) {
        return Refuse(reason, "status read of another shape");
    }
    return true;
}

// The slice a write's address names in either bank, or SLICES_PER_FRAME when none.
uint32_t SliceOfAddress(uint32_t address) {
    for (uint32_t base : {BANK0_BASE, BANK1_BASE}) {
        if (address > base && address - base <= SLICES_PER_FRAME * SLICE_BYTES &&
            (address - base) % SLICE_BYTES == 0) {
            return (address - base) / SLICE_BYTES - 1;
        }
    }
    return SLICES_PER_FRAME;
}

bool CheckOpticalRequest(const ServiceRequest& request, const char** reason) {
    if (SameCdb(request, BuildControlCdb(CTRL_OPEN)) ||
        SameCdb(request, BuildControlCdb(CTRL_FRAME_DONE))) {
        if (!StreamFields(request, SCSI_IOCTL_DATA_OUT) || request.dataTransferLength != 0) {
            return Refuse(reason, "control command of another shape");
        }
        return true;
    }
    const uint32_t address = GetWord(request.cdb + 4);
    if (!SameCdb(request, BuildWriteCdb(address))) {
        return Refuse(reason, "not a control command or slice write of the optical unit");
    }
    const uint32_t slice = SliceOfAddress(address);
    if (slice == SLICES_PER_FRAME) {
        return Refuse(reason, "write outside the frame banks' slices");
    }
    if (!StreamFields(request, SCSI_IOCTL_DATA_OUT)) {
        return Refuse(reason, "slice write of another shape");
    }
    const uint32_t length = request.dataTransferLength;
    const bool lengthFits =
        slice + 1 == SLICES_PER_FRAME
            ? length == LAST_RAW_WRITE_BYTES || length == LAST_COMPRESSED_WRITE_BYTES
            : length >= FULL_WRITE_MIN_BYTES && length <= FULL_WRITE_MAX_BYTES && length % 4 == 0;
    if (!lengthFits) {
        return Refuse(reason, "slice write of another length");
    }
    return true;
}

}  // namespace

void EncodeServiceHello(uint32_t word, const std::string& diskPath, const std::string& opticalPath,
                        uint8_t* out) {
    std::memset(out, 0, SERVICE_HELLO_BYTES);
    PutWord(out, word);
    std::memcpy(out + 4, diskPath.data(),
                std::min<size_t>(diskPath.size(), SERVICE_PATH_CHARS - 1));
    std::memcpy(out + 4 + SERVICE_PATH_CHARS, opticalPath.data(),
                std::min<size_t>(opticalPath.size(), SERVICE_PATH_CHARS - 1));
}

uint32_t DecodeServiceHello(const uint8_t* in, std::string* diskPath, std::string* opticalPath) {
    const char* disk = reinterpret_cast<const char*>(in + 4);
    const char* optical = disk + SERVICE_PATH_CHARS;
    diskPath->assign(disk, strnlen(disk, SERVICE_PATH_CHARS));
    opticalPath->assign(optical, strnlen(optical, SERVICE_PATH_CHARS));
    return GetWord(in);
}

void EncodeServiceRequest(const ServiceRequest& request, uint8_t* out) {
    out[0] = request.unit;
    std::memcpy(out + 1, request.cdb, sizeof request.cdb);
    out[17] = request.targetId;
    out[18] = request.senseInfoLength;
    out[19] = request.dataIn;
    PutWord(out + 20, request.dataTransferLength);
    PutWord(out + 24, request.timeOutValue);
}

ServiceRequest DecodeServiceRequest(const uint8_t* in) {
    ServiceRequest request{};
    request.unit = in[0];
    std::memcpy(request.cdb, in + 1, sizeof request.cdb);
    request.targetId = in[17];
    request.senseInfoLength = in[18];
    request.dataIn = in[19];
    request.dataTransferLength = GetWord(in + 20);
    request.timeOutValue = GetWord(in + 24);
    return request;
}

void EncodeServiceReply(const ServiceReply& reply, uint8_t* out) {
    PutWord(out, reply.error);
    PutWord(out + 4, reply.flags);
}

ServiceReply DecodeServiceReply(const uint8_t* in) {
    return ServiceReply{GetWord(in), GetWord(in + 4)};
}

ServiceRequest ToServiceRequest(uint8_t unit, const ScsiRequest& request) {
    ServiceRequest record{};
    record.unit = unit;
    std::memcpy(record.cdb, request.cdb, sizeof record.cdb);
    record.targetId = request.targetId;
    record.senseInfoLength = request.senseInfoLength;
    record.dataIn = request.dataIn;
    record.dataTransferLength = request.dataTransferLength;
    record.timeOutValue = request.timeOutValue;
    return record;
}

ScsiRequest ToScsiRequest(const ServiceRequest& request, void* dataBuffer) {
    ScsiRequest scsi{};
    std::memcpy(scsi.cdb, request.cdb, sizeof scsi.cdb);
    scsi.targetId = request.targetId;
    scsi.senseInfoLength = request.senseInfoLength;
    scsi.dataIn = request.dataIn;
    scsi.dataTransferLength = request.dataTransferLength;
    scsi.timeOutValue = request.timeOutValue;
    scsi.dataBuffer = request.dataTransferLength != 0 ? dataBuffer : nullptr;
    return scsi;
}

bool IsProjectorRequest(const ServiceRequest& request, const char** reason) {
    switch (request.unit) {
        case SERVICE_UNIT_DISK:
            return CheckDiskRequest(request, reason);
        case SERVICE_UNIT_OPTICAL:
            return CheckOpticalRequest(request, reason);
        default:
            return Refuse(reason, "no such unit");
    }
}
