#include "device/device_status.h"

#include <cstring>

#include "device/device_discovery.h"
#include "device/scsi_commands.h"
#include "platform/debug_print.h"

namespace {

constexpr uint32_t REGISTER_REPLY_BYTES = 4;
constexpr uint32_t FIRMWARE_REPLY_BYTES = 10;
constexpr uint8_t REGISTER_VALUE_BYTES = 1;

// Sends `cdb` on the disk unit asking for `length` reply bytes; true when it went through.
bool VendorRead(const Cdb& cdb, uint32_t length, ReadRequest* request) {
    std::memset(request, 0, sizeof *request);
    std::memcpy(request->cdb, cdb.data(), cdb.size());
    return scsi_cmd_read_driverless(request, g_hDisk2, length) != 0;
}

bool ReadRegister(uint8_t reg, uint8_t replyBytes, ReadRequest* request) {
    return VendorRead(BuildMcuRegisterCdb(reg, false, 0, replyBytes), REGISTER_REPLY_BYTES,
                      request);
}

}  // namespace

int ReadDevFaultStatus() {
    ReadRequest request;
    if (!ReadRegister(MCU_REG_FAULT, REGISTER_VALUE_BYTES, &request)) {
        DebugPrint("DevErrTimerProc: scsi_cmd_read_driverless error!\n");
        return DEV_FAULT_READ_FAILED;
    }
    DebugPrint("DevErrTimerProc: scsi_cmd_read_driverless success!\n");
    return request.reply[0];
}

uint8_t GetDevPowerMode() {
    ReadRequest request;
    if (!ReadRegister(MCU_REG_POWER, REGISTER_VALUE_BYTES, &request)) {
        DebugPrint("GetDevPowerMode: scsi_cmd_read_driverless error!\n");
        return POWER_MODE_FAILED;
    }
    DebugPrint("GetDevPowerMode: scsi_cmd_read_driverless success!\n");
    return request.reply[0];
}

uint8_t SetDevPowerMode(uint8_t mode) {
    ReadRequest request;
    if (!VendorRead(BuildMcuRegisterCdb(MCU_REG_POWER, true, mode, REGISTER_VALUE_BYTES),
                    REGISTER_REPLY_BYTES, &request)) {
        DebugPrint("SetDevPowerMode: scsi_cmd_read_driverless error!\n");
        return POWER_MODE_FAILED;
    }
    DebugPrint("SetDevPowerMode: scsi_cmd_read_driverless success!\n");
    return 0;
}

int GetMCUFirmInfo(uint8_t* out) {
    ReadRequest request;
    if (!ReadRegister(MCU_REG_FWID, MCU_FIRMWARE_ID_BYTES, &request)) {
        DebugPrint("GetMCUFirmInfo: scsi_cmd_read_driverless error!\n");
        return 0;
    }
    std::memcpy(out, request.reply, MCU_FIRMWARE_ID_BYTES);
    return 1;
}

int getDriverLessFirmInfo(uint8_t* out) {
    ReadRequest request;
    if (!VendorRead(BuildDriverlessFirmwareCdb(), FIRMWARE_REPLY_BYTES, &request)) {
        return 0;
    }
    std::memcpy(out, request.reply, FIRMWARE_INFO_BYTES);
    return 1;
}
