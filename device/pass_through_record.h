#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/device_backend.h"

// The record the Windows SCSI pass-through (direct) takes as both input and output: the
// system's SCSI_PASS_THROUGH_DIRECT, a filler and a 32-byte sense area. Its layout follows
// the pointer width of the process: a 32-bit process hands the kernel 44 + 4 + 32 = 80 bytes
// with the sense area at 48; a 64-bit one the native structure, whose DataBuffer is 8 bytes.
// Kept free of Windows headers so that both layouts can be checked anywhere.

template <typename Pointer>
struct PassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    alignas(Pointer) Pointer DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

template <typename Pointer>
struct PassThroughRecord {
    PassThroughDirect<Pointer> sptd;
    uint32_t filler;
    uint8_t sense[32];
};

using PassThroughRecord32 = PassThroughRecord<uint32_t>;
using PassThroughRecord64 = PassThroughRecord<uint64_t>;
using NativePassThroughRecord = PassThroughRecord<uintptr_t>;

// Everything but the request's fields is zero; Length and SenseInfoOffset come from the
// layout itself. The buffer address is carried at the layout's pointer width.
template <typename Pointer>
PassThroughRecord<Pointer> BuildPassThroughRecord(const ScsiRequest& request) {
    PassThroughRecord<Pointer> record;
    std::memset(&record, 0, sizeof record);
    record.sptd.Length = sizeof record.sptd;
    record.sptd.TargetId = request.targetId;
    record.sptd.CdbLength = sizeof record.sptd.Cdb;
    record.sptd.SenseInfoLength = request.senseInfoLength;
    record.sptd.DataIn = request.dataIn;
    record.sptd.DataTransferLength = request.dataTransferLength;
    record.sptd.TimeOutValue = request.timeOutValue;
    record.sptd.DataBuffer = static_cast<Pointer>(reinterpret_cast<uintptr_t>(request.dataBuffer));
    record.sptd.SenseInfoOffset = offsetof(PassThroughRecord<Pointer>, sense);
    std::memcpy(record.sptd.Cdb, request.cdb, sizeof record.sptd.Cdb);
    return record;
}
