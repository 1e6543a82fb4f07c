#include "device/service_channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "platform/debug_print.h"

namespace {

// The fields the command layer sets besides the CDB.
constexpr uint8_t TARGET_STREAM = 1;
constexpr uint8_t TARGET_VENDOR_READ = 3;
constexpr uint8_t SENSE_BYTES = 32;
constexpr uint8_t READ_SENSE_BYTES = 24;
constexpr uint32_t LINK_SPEED_REPLY_BYTES = 4;
constexpr uint32_t REGISTER_REPLY_BYTES = 4;
constexpr uint32_t FIRMWARE_REPLY_BYTES = 10;

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
// Every shape allowed fits the channel: a write its slot, a read's reply the answer.
static_assert(FULL_WRITE_MAX_BYTES <= SERVICE_SLOT_BYTES &&
              LAST_RAW_WRITE_BYTES <= SERVICE_SLOT_BYTES);
static_assert(LINK_SPEED_REPLY_BYTES <= SERVICE_READ_MAX_BYTES &&
              REGISTER_REPLY_BYTES <= SERVICE_READ_MAX_BYTES &&
              FIRMWARE_REPLY_BYTES <= SERVICE_READ_MAX_BYTES);

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

bool CheckOpticalRequest(const ServiceRequest& request, const char** reason) {
    if (SameCdb(request, BuildControlCdb(CTRL_OPEN)) ||
        SameCdb(request, BuildControlCdb(CTRL_FRAME_DONE))) {
        if (!StreamFields(request, SCSI_IOCTL_DATA_OUT) || request.dataTransferLength != 0) {
            return Refuse(reason, "control command of another shape");
        }
        return true;
    }
    if (!SameCdb(request, BuildWriteCdb(GetServiceWord(request.cdb + 4)))) {
        return Refuse(reason, "not a control command or slice write of the optical unit");
    }
    uint32_t slice = 0;
    uint32_t bank = 0;
    if (!SliceOfWrite(request, &slice, &bank)) {
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

void PutServiceWord(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetServiceWord(const uint8_t* in) {
    return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
           (uint32_t{in[3]} << 24);
}

void EncodeServiceHello(const ServiceHello& hello, uint8_t* out) {
    std::memset(out, 0, SERVICE_HELLO_BYTES);
    PutServiceWord(out, hello.word);
    uint8_t* field = out + 4;
    for (const std::string& path : hello.paths) {
        std::memcpy(field, path.data(), std::min<size_t>(path.size(), SERVICE_PATH_CHARS - 1));
        field += SERVICE_PATH_CHARS;
    }
    PutServiceWord(field, static_cast<uint32_t>(hello.section));
    PutServiceWord(field + 4, static_cast<uint32_t>(hello.section >> 32));
    field += 8;
    for (int unit = 0; unit < 2; ++unit, field += 16) {
        PutServiceWord(field, hello.limitsStated[unit] ? 1 : 0);
        PutServiceWord(field + 4, hello.limits[unit].alignmentMask);
        PutServiceWord(field + 8, hello.limits[unit].maximumTransferLength);
        PutServiceWord(field + 12, hello.limits[unit].maximumPhysicalPages);
    }
}

ServiceHello DecodeServiceHello(const uint8_t* in) {
    ServiceHello hello;
    hello.word = GetServiceWord(in);
    const uint8_t* field = in + 4;
    for (std::string& path : hello.paths) {
        const char* text = reinterpret_cast<const char*>(field);
        path.assign(text, strnlen(text, SERVICE_PATH_CHARS - 1));
        field += SERVICE_PATH_CHARS;
    }
    hello.section = GetServiceWord(field) | (uint64_t{GetServiceWord(field + 4)} << 32);
    field += 8;
    for (int unit = 0; unit < 2; ++unit, field += 16) {
        hello.limitsStated[unit] = GetServiceWord(field) != 0;
        hello.limits[unit] = {GetServiceWord(field + 4), GetServiceWord(field + 8),
                              GetServiceWord(field + 12)};
    }
    return hello;
}

void EncodeServiceRequest(const ServiceRequest& request, uint8_t* out) {
    out[0] = request.unit;
    std::memcpy(out + 1, request.cdb, sizeof request.cdb);
    out[17] = request.targetId;
    out[18] = request.senseInfoLength;
    out[19] = request.dataIn;
    PutServiceWord(out + 20, request.dataTransferLength);
    PutServiceWord(out + 24, request.timeOutValue);
}

ServiceRequest DecodeServiceRequest(const uint8_t* in) {
    ServiceRequest request{};
    request.unit = in[0];
    std::memcpy(request.cdb, in + 1, sizeof request.cdb);
    request.targetId = in[17];
    request.senseInfoLength = in[18];
    request.dataIn = in[19];
    request.dataTransferLength = GetServiceWord(in + 20);
    request.timeOutValue = GetServiceWord(in + 24);
    return request;
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

bool SliceOfWrite(const ServiceRequest& request, uint32_t* slice, uint32_t* bank) {
    if (request.unit != SERVICE_UNIT_OPTICAL || request.dataIn != SCSI_IOCTL_DATA_OUT ||
        !SameCdb(request, BuildWriteCdb(GetServiceWord(request.cdb + 4)))) {
        return false;
    }
    const uint32_t address = GetServiceWord(request.cdb + 4);
    for (uint32_t base : {BANK0_BASE, BANK1_BASE}) {
        if (address > base && address - base <= SLICES_PER_FRAME * SLICE_BYTES &&
            (address - base) % SLICE_BYTES == 0) {
            *slice = (address - base) / SLICE_BYTES - 1;
            *bank = base;
            return true;
        }
    }
    return false;
}

namespace {

std::string CdbText(const uint8_t* cdb) {
    std::string text;
    char hex[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", cdb[i]);
        text += hex;
    }
    return text;
}

// One request, its data at `data`: the unit's result, or SERVICE_REFUSED, traced.
uint32_t ServeRequest(const ServedUnits& served, const ServiceRequest& request, uint8_t* data) {
    const char* reason = nullptr;
    bool allowed = IsProjectorRequest(request, &reason);
    if (allowed && request.dataTransferLength > 0 && served.limitsStated[request.unit] &&
        !AdapterTakes(served.limits[request.unit], reinterpret_cast<uintptr_t>(data),
                      request.dataTransferLength)) {
        allowed = false;
        reason = "more than the unit's adapter takes in one request";
    }
    if (!allowed) {
        DebugPrint("vorn_kvusb_service: refused a request, %s: unit %u, CDB %s, %u bytes\n", reason,
                   request.unit, CdbText(request.cdb).c_str(), request.dataTransferLength);
        return SERVICE_REFUSED;
    }
    std::lock_guard<std::mutex> hold(*served.lock);
    if (request.dataIn == SCSI_IOCTL_DATA_IN) {
        std::memset(data, 0, request.dataTransferLength);
    }
    return served.backend->SendScsi(served.units[request.unit], ToScsiRequest(request, data));
}

}  // namespace

bool BatchFitsSection(uint32_t count, uint32_t first) {
    return count > 0 && count <= SERVICE_BATCH_MAX && first <= SERVICE_BATCH_MAX - count;
}

uint32_t RunServiceBatch(const ServedUnits& served, const uint8_t* records, uint32_t count,
                         uint32_t first, uint8_t* section, uint32_t flags, uint8_t* answer) {
    PutServiceWord(answer, flags);
    uint32_t answerBytes = 4 + 4 * count;
    uint32_t error = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (error != 0) {
            PutServiceWord(answer + 4 + 4 * i, SERVICE_NOT_SENT);
            continue;
        }
        const ServiceRequest request = DecodeServiceRequest(records + i * SERVICE_REQUEST_BYTES);
        const bool read = request.dataIn == SCSI_IOCTL_DATA_IN;
        uint8_t* data = read ? served.readBuffer : section + size_t{first + i} * SERVICE_SLOT_BYTES;
        error = ServeRequest(served, request, data);
        PutServiceWord(answer + 4 + 4 * i, error);
        // IsProjectorRequest keeps a read within SERVICE_READ_MAX_BYTES.
        if (error == 0 && read) {
            std::memcpy(answer + answerBytes, served.readBuffer, request.dataTransferLength);
            answerBytes += request.dataTransferLength;
        }
    }
    return answerBytes;
}
