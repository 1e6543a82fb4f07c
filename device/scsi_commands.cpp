#include "device/scsi_commands.h"

#include <cstring>
#include <mutex>
#include <string>

#include "device/device_discovery.h"
#include "platform/debug_print.h"

namespace {

constexpr uint8_t SENSE_BYTES = 32;
constexpr uint8_t READ_SENSE_BYTES = 24;
constexpr uint8_t TARGET_STREAM = 1;
constexpr uint8_t TARGET_VENDOR_READ = 3;
constexpr uint32_t LINK_SPEED_REPLY_BYTES = 4;
constexpr int READ_SUCCESS = 4;

// Bytes 0 and 4 of every vendor read: the opcode and the vendor page.
constexpr uint8_t VENDOR_PAGE = 0xC0;

Cdb VendorReadCdb(uint8_t selector) {
    Cdb cdb{};
    cdb[0] = OPCODE_READ;
    cdb[4] = VENDOR_PAGE;
    cdb[5] = selector;
    return cdb;
}

ScsiRequest MakeRequest(const Cdb& cdb, uint8_t targetId, uint8_t senseLength, uint8_t dataIn,
                        uint32_t length, uint32_t timeout, void* buffer) {
    ScsiRequest request{};
    std::memcpy(request.cdb, cdb.data(), cdb.size());
    request.targetId = targetId;
    request.senseInfoLength = senseLength;
    request.dataIn = dataIn;
    request.dataTransferLength = length;
    request.timeOutValue = timeout;
    request.dataBuffer = buffer;
    return request;
}

// Write and control: an unplugged projector is passed back untraced so that the frame
// transfer can tell it from a link fault.
int StreamResult(uint32_t error) {
    if (error == 0) {
        return 0;
    }
    if (error == ERROR_DEVICE_NOT_CONNECTED) {
        return static_cast<int>(ERROR_DEVICE_NOT_CONNECTED);
    }
    DebugPrint("SCSI Error: %d  ", static_cast<int>(error));
    return -1;
}

// The disk unit's replies arrive in a page of their own and are copied out from there: the
// callers' records (a reply area 16 bytes into a ReadRequest, a word on the stack) are not
// aligned as an adapter may need. The lock covers a tool that reads from two threads.
alignas(PAGE_BYTES) uint8_t g_DiskReplyPage[PAGE_BYTES];
std::mutex g_DiskReplyLock;

// Sends a data-in command and copies `length` reply bytes to `reply`; 0 or the OS error.
uint32_t ReadIntoPage(DeviceHandle handle, const Cdb& cdb, uint8_t targetId, uint8_t senseLength,
                      uint32_t length, uint32_t timeout, uint8_t* reply) {
    std::lock_guard<std::mutex> hold(g_DiskReplyLock);
    std::memset(g_DiskReplyPage, 0, length);
    ScsiRequest request = MakeRequest(cdb, targetId, senseLength, SCSI_IOCTL_DATA_IN, length,
                                      timeout, g_DiskReplyPage);
    uint32_t error = g_pDeviceBackend->SendScsi(handle, request);
    if (error == 0) {
        std::memcpy(reply, g_DiskReplyPage, length);
    }
    return error;
}

int SendStreamCommand(DeviceHandle handle, const Cdb& cdb, uint32_t length, void* buffer) {
    ScsiRequest request = MakeRequest(cdb, TARGET_STREAM, SENSE_BYTES, SCSI_IOCTL_DATA_OUT, length,
                                      STREAM_TIMEOUT_SECONDS, buffer);
    return StreamResult(g_pDeviceBackend->SendScsi(handle, request));
}

}  // namespace

Cdb BuildWriteCdb(uint32_t address) {
    Cdb cdb{};
    cdb[0] = OPCODE_WRITE;
    cdb[4] = static_cast<uint8_t>(address);
    cdb[5] = static_cast<uint8_t>(address >> 8);
    cdb[6] = static_cast<uint8_t>(address >> 16);
    cdb[7] = static_cast<uint8_t>(address >> 24);
    return cdb;
}

Cdb BuildControlCdb(uint16_t code) {
    Cdb cdb{};
    cdb[0] = OPCODE_CONTROL;
    cdb[4] = VENDOR_PAGE;
    cdb[5] = 0xD1;
    cdb[6] = static_cast<uint8_t>(code);
    cdb[7] = static_cast<uint8_t>(code >> 8);
    cdb[8] = 0x40;
    cdb[10] = 0x01;
    return cdb;
}

Cdb BuildLinkSpeedCdb() {
    Cdb cdb = VendorReadCdb(0xA5);
    cdb[9] = 0xA0;
    cdb[10] = 0x04;
    return cdb;
}

Cdb BuildMcuRegisterCdb(uint8_t reg, bool write, uint8_t value, uint8_t replyBytes) {
    Cdb cdb = VendorReadCdb(0xFF);
    cdb[6] = reg;
    cdb[7] = write ? 1 : 0;
    cdb[8] = value;
    cdb[10] = replyBytes;
    return cdb;
}

Cdb BuildDriverlessFirmwareCdb() {
    return VendorReadCdb(0xA1);
}

int scsi_cmd_write_driverless(DeviceHandle handle, const uint8_t* buffer, uint32_t length,
                              uint32_t address) {
    // The backend only reads a data-out buffer.
    return SendStreamCommand(handle, BuildWriteCdb(address), length, const_cast<uint8_t*>(buffer));
}

int scsi_cmd_control_driverless(DeviceHandle handle, uint16_t code) {
    return SendStreamCommand(handle, BuildControlCdb(code), 0, nullptr);
}

int scsi_cmd_read_link_speed() {
    uint8_t reply[LINK_SPEED_REPLY_BYTES] = {};
    uint32_t error = ReadIntoPage(g_hDisk2, BuildLinkSpeedCdb(), TARGET_STREAM, SENSE_BYTES,
                                  LINK_SPEED_REPLY_BYTES, STREAM_TIMEOUT_SECONDS, reply);
    if (error != 0) {
        DebugPrint("SCSI Error: %d  ", static_cast<int>(error));
        return -1;
    }
    // Most significant byte first.
    g_USB3_0 = (uint32_t{reply[0]} << 24) | (uint32_t{reply[1]} << 16) | (uint32_t{reply[2]} << 8) |
               uint32_t{reply[3]};
    return 0;
}

int scsi_cmd_read_driverless(ReadRequest* request, DeviceHandle handle, uint32_t length) {
    // A longer reply would run past the request record.
    if (length > READ_REPLY_BYTES) {
        return 0;
    }
    Cdb cdb;
    std::memcpy(cdb.data(), request->cdb, cdb.size());
    uint32_t error = ReadIntoPage(handle, cdb, TARGET_VENDOR_READ, READ_SENSE_BYTES, length,
                                  STATUS_TIMEOUT_SECONDS, request->reply);
    if (error != 0) {
        std::string text = g_pDeviceBackend->SystemErrorText(error);
        if (!text.empty()) {
            DebugPrint("SCSI ERROR(R) => %d: %s \n", static_cast<int>(error), text.c_str());
        }
        return 0;
    }
    return READ_SUCCESS;
}
