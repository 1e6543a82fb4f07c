#include "emulator/sg_nodes/sg_request.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "emulator/hex_text.h"
#include "emulator/virtual_projector.h"

namespace emu {
namespace {

constexpr unsigned kMillisecondsPerSecond = 1000;
constexpr unsigned char kSgInterfaceId = 'S';
constexpr int kSgShortestCommand = 6;  // the sg driver takes commands of 6 to 16 bytes
constexpr size_t kCdbBytes = 16;
constexpr unsigned short kDidError = 0x07;  // the host adapter's DID_ERROR

// The record a 64-bit Windows program hands to the pass-through, as Microsoft documents
// SCSI_PASS_THROUGH_DIRECT: 56 bytes with an 8-byte DataBuffer, then the 4-byte filler and
// the 32-byte sense area the program puts behind it. Kept here rather than taken from the
// program's own definition, so that a wrong layout there cannot agree with itself.
constexpr size_t kLength = 0;
constexpr size_t kScsiStatus = 2;
constexpr size_t kPathId = 3;
constexpr size_t kTargetId = 4;
constexpr size_t kLun = 5;
constexpr size_t kCdbLength = 6;
constexpr size_t kSenseInfoLength = 7;
constexpr size_t kDataIn = 8;
constexpr size_t kDataTransferLength = 12;
constexpr size_t kTimeOutValue = 16;
constexpr size_t kDataBuffer = 24;
constexpr size_t kSenseInfoOffset = 32;
constexpr size_t kCdb = 36;
constexpr size_t kStructureBytes = 56;
constexpr size_t kSenseArea = 60;
constexpr size_t kSenseAreaBytes = 32;
constexpr uint8_t kDataUnspecified = 2;  // SCSI_IOCTL_DATA_UNSPECIFIED

// The bytes of the record that no field covers: alignment gaps and the filler.
constexpr struct { size_t from, to; } kGaps[] = {{9, 12}, {20, 24}, {52, kSenseArea}};

template <typename T>
T Field(const uint8_t* record, size_t offset) {
    T value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

std::string Hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

// The direction Wine gives SG_IO for each DataIn value.
int SgDirection(uint8_t dataIn) {
    switch (dataIn) {
        case SCSI_IOCTL_DATA_IN:
            return SG_DXFER_FROM_DEV;
        case SCSI_IOCTL_DATA_OUT:
            return SG_DXFER_TO_DEV;
        case kDataUnspecified:
            return SG_DXFER_NONE;
        default:
            return 0;
    }
}

// The data the sg driver moves, which is what the device gets whatever else the caller says:
// the header's buffer and length, none for SG_DXFER_NONE.
void TakeDriversData(const sg_io_hdr& header, ScsiRequest* request) {
    const bool moves = header.dxfer_direction != SG_DXFER_NONE;
    request->dataBuffer = moves ? header.dxferp : nullptr;
    request->dataTransferLength = moves ? header.dxfer_len : 0;
}

// The header's own rules, and the request as far as the header carries it.
void ReadHeader(const sg_io_hdr& header, SgIntake* intake) {
    ScsiRequest& request = intake->request;
    std::memcpy(request.cdb, header.cmdp, std::min<size_t>(header.cmd_len, kCdbBytes));
    request.targetId = kTargetIdNotCarried;
    request.senseInfoLength = header.mx_sb_len;
    request.timeOutValue = header.timeout / kMillisecondsPerSecond;
    TakeDriversData(header, &request);
    std::vector<std::string>& errors = intake->errors;
    switch (header.dxfer_direction) {
        case SG_DXFER_TO_DEV:
            request.dataIn = SCSI_IOCTL_DATA_OUT;
            break;
        case SG_DXFER_FROM_DEV:
            request.dataIn = SCSI_IOCTL_DATA_IN;
            break;
        case SG_DXFER_NONE:
            // The driver moves no data whatever the length says.
            request.dataIn = SCSI_IOCTL_DATA_OUT;
            if (header.dxfer_len != 0) {
                errors.push_back("SG_DXFER_NONE with dxfer_len " +
                                 std::to_string(header.dxfer_len) + ": no data would move");
            }
            break;
        default:
            errors.push_back("dxfer_direction " + std::to_string(header.dxfer_direction) +
                             " is none of SG_DXFER_NONE, _TO_DEV and _FROM_DEV");
            break;
    }
    if (header.dxfer_direction != SG_DXFER_NONE && header.dxfer_len == 0) {
        errors.push_back("a direction without data: a command that moves none is SG_DXFER_NONE");
    }
    if (header.cmd_len != kCdbBytes) {
        errors.push_back("cmd_len " + std::to_string(header.cmd_len) + ", expected 16");
    }
    if (header.timeout % kMillisecondsPerSecond != 0) {
        errors.push_back("timeout " + std::to_string(header.timeout) +
                         " ms is no whole number of seconds");
    }
    if (header.mx_sb_len > 0 && header.sbp == nullptr) {
        errors.push_back("mx_sb_len " + std::to_string(header.mx_sb_len) + " without a buffer");
    }
    if (header.iovec_count != 0 || header.flags != 0) {
        errors.push_back("iovec_count " + std::to_string(header.iovec_count) + ", flags " +
                         std::to_string(header.flags) + ": the program sends plain buffers");
    }
}

// Wine's header is derived from the record behind it; both are checked, and the request is
// the record's.
void ReadWineRecord(const sg_io_hdr& header, SgIntake* intake) {
    const uint8_t* record = static_cast<const uint8_t*>(header.cmdp) - kCdb;
    std::vector<std::string>& errors = intake->errors;
    auto expect = [&](const char* field, uint64_t value, uint64_t wanted) {
        if (value != wanted) {
            errors.push_back(std::string("record ") + field + " " + std::to_string(value) +
                             ", expected " + std::to_string(wanted));
        }
    };
    expect("Length", Field<uint16_t>(record, kLength), kStructureBytes);
    expect("ScsiStatus", record[kScsiStatus], 0);
    expect("PathId", record[kPathId], 0);
    expect("Lun", record[kLun], 0);
    expect("CdbLength", record[kCdbLength], kCdbBytes);
    expect("SenseInfoOffset", Field<uint32_t>(record, kSenseInfoOffset), kSenseArea);
    for (const auto& gap : kGaps) {
        for (size_t i = gap.from; i < gap.to; ++i) {
            if (record[i] != 0) {
                errors.push_back("record byte " + std::to_string(i) + " is " +
                                 HexBytes(&record[i], 1) + "; the record is cleared first");
                break;
            }
        }
    }
    for (size_t i = 0; i < kSenseAreaBytes; ++i) {
        if (record[kSenseArea + i] != 0) {
            errors.push_back("the sense area is not cleared before the call");
            break;
        }
    }

    ScsiRequest& request = intake->request;
    std::memcpy(request.cdb, record + kCdb, kCdbBytes);
    request.targetId = record[kTargetId];
    request.senseInfoLength = record[kSenseInfoLength];
    request.dataIn = record[kDataIn];
    request.timeOutValue = Field<uint32_t>(record, kTimeOutValue);
    const uint32_t dataTransferLength = Field<uint32_t>(record, kDataTransferLength);
    const void* dataBuffer = reinterpret_cast<void*>(Field<uint64_t>(record, kDataBuffer));

    // What Wine handed to SG_IO must be the record's, field for field.
    auto expectHeader = [&](const char* field, uint64_t value, uint64_t wanted) {
        if (value != wanted) {
            errors.push_back(std::string("SG_IO ") + field + " " + std::to_string(value) +
                             " does not follow the record's " + std::to_string(wanted));
        }
    };
    expectHeader("cmd_len", header.cmd_len, record[kCdbLength]);
    expectHeader("mx_sb_len", header.mx_sb_len, request.senseInfoLength);
    expectHeader("dxfer_len", header.dxfer_len, dataTransferLength);
    expectHeader("timeout (ms)", header.timeout,
                 uint64_t{request.timeOutValue} * kMillisecondsPerSecond);
    expectHeader("dxfer_direction", static_cast<uint32_t>(header.dxfer_direction),
                 static_cast<uint32_t>(SgDirection(request.dataIn)));
    if (header.dxferp != dataBuffer) {
        errors.push_back("SG_IO dxferp " + Hex(header.dxferp) + " is not the record's DataBuffer " +
                         Hex(dataBuffer));
    }
    // Compared as addresses: an offset the caller got wrong may point past any object.
    const uintptr_t sense =
        reinterpret_cast<uintptr_t>(record) + Field<uint32_t>(record, kSenseInfoOffset);
    if (reinterpret_cast<uintptr_t>(header.sbp) != sense) {
        errors.push_back("SG_IO sbp " + Hex(header.sbp) + " is not the record's sense area " +
                         Hex(reinterpret_cast<const void*>(sense)));
    }
    // A record that disagrees with its header (named above) must not have the projector touch
    // memory the header leaves out.
    TakeDriversData(header, &request);
}

}  // namespace

SgIntake ReadSgRequest(const sg_io_hdr& header, SgCaller caller) {
    SgIntake intake;
    // The driver's own refusals come first: nothing reaches the device.
    if (header.interface_id != kSgInterfaceId) {
        intake.refusal = ENOSYS;
        intake.errors.push_back("interface_id is not 'S'");
        return intake;
    }
    if (header.cmdp == nullptr || header.cmd_len < kSgShortestCommand ||
        header.cmd_len > kCdbBytes) {
        intake.refusal = EMSGSIZE;
        intake.errors.push_back("cmd_len " + std::to_string(header.cmd_len) +
                                " is outside 6 to 16, or there is no command");
        return intake;
    }
    if (caller == SgCaller::Wine64) {
        ReadWineRecord(header, &intake);
    } else {
        ReadHeader(header, &intake);
    }
    return intake;
}

int CompleteSgRequest(uint32_t result, uint32_t milliseconds, sg_io_hdr* header, int* error) {
    if (result != 0) {
        *error = result == ERROR_DEVICE_NOT_CONNECTED ? ENODEV : static_cast<int>(result);
        return -1;
    }
    header->status = 0;
    header->masked_status = 0;
    header->msg_status = 0;
    header->sb_len_wr = 0;
    header->host_status = 0;
    header->driver_status = 0;
    header->resid = 0;
    header->duration = milliseconds;
    header->info = 0;
    return 0;
}

void CompleteLostSgRequest(uint32_t milliseconds, sg_io_hdr* header) {
    int error = 0;
    CompleteSgRequest(0, milliseconds, header, &error);
    header->host_status = kDidError;
    header->resid = static_cast<int>(header->dxfer_len);
}

}  // namespace emu
