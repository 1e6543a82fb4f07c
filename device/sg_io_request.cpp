#include "device/sg_io_request.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr unsigned MILLISECONDS_PER_SECOND = 1000;

// Host adapter and driver results of the SCSI midlayer (not in the user-space headers).
constexpr unsigned short DID_OK = 0x00;
constexpr unsigned short DID_NO_CONNECT = 0x01;
constexpr unsigned short DID_TIME_OUT = 0x03;
constexpr unsigned short DRIVER_STATUS_MASK = 0x0F;
constexpr unsigned short DRIVER_TIMEOUT = 0x06;

}  // namespace

sg_io_hdr BuildSgIoRequest(const ScsiRequest& request, uint8_t* sense) {
    sg_io_hdr header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    if (request.dataTransferLength == 0) {
        header.dxfer_direction = SG_DXFER_NONE;
    } else {
        header.dxfer_direction =
            request.dataIn == SCSI_IOCTL_DATA_IN ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        header.dxfer_len = request.dataTransferLength;
        header.dxferp = request.dataBuffer;
    }
    header.cmd_len = sizeof request.cdb;
    // SG_IO only reads the command.
    header.cmdp = const_cast<uint8_t*>(request.cdb);
    header.mx_sb_len = request.senseInfoLength;
    header.sbp = sense;
    header.timeout = request.timeOutValue * MILLISECONDS_PER_SECOND;
    return header;
}

uint32_t SgIoResult(int ioctlResult, int ioctlErrno, const sg_io_hdr& header) {
    if (ioctlResult < 0) {
        if (ioctlErrno == ENODEV || ioctlErrno == ENXIO) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        return ioctlErrno != 0 ? static_cast<uint32_t>(ioctlErrno) : EIO;
    }
    if (header.host_status == DID_NO_CONNECT) {
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    if (header.host_status == DID_TIME_OUT ||
        (header.driver_status & DRIVER_STATUS_MASK) == DRIVER_TIMEOUT) {
        return ETIMEDOUT;
    }
    if (header.host_status != DID_OK) {
        return EIO;
    }
    return 0;
}
