#pragma once

#include <cstdint>

// Status and control requests on the disk unit (g_hDisk2): each is one vendor read.

// Registers of the projector's microcontroller.
inline constexpr uint8_t MCU_REG_FWID = 0x14;
inline constexpr uint8_t MCU_REG_POWER = 0x35;
inline constexpr uint8_t MCU_REG_FAULT = 0x38;

// Fault status values; any other is no fault to report.
inline constexpr int DEV_FAULT_OVERHEAT = 1;
inline constexpr int DEV_FAULT_FAN_FAILURE = 2;
inline constexpr int DEV_FAULT_READ_FAILED = -1;

// Power modes, and the failure value of the power-mode requests.
inline constexpr uint8_t POWER_MODE_AUTO = 0;
inline constexpr uint8_t POWER_MODE_ECO = 1;
inline constexpr uint8_t POWER_MODE_FAILED = 0xFF;

inline constexpr int MCU_FIRMWARE_ID_BYTES = 3;
inline constexpr int FIRMWARE_INFO_BYTES = 64;

// The fault poll of the device-error timer: the status byte (0-255), or DEV_FAULT_READ_FAILED.
// Traces "DevErrTimerProc: scsi_cmd_read_driverless success!\n" or "... error!\n".
int ReadDevFaultStatus();

// The power mode, or POWER_MODE_FAILED.
uint8_t GetDevPowerMode();
// 0 when the command went through, POWER_MODE_FAILED otherwise.
uint8_t SetDevPowerMode(uint8_t mode);

// The microcontroller firmware's three characters into out[0..2]: 1, or 0 with `out` untouched.
int GetMCUFirmInfo(uint8_t* out);
// The driverless firmware's answer, FIRMWARE_INFO_BYTES bytes (10 answer bytes, then zeros),
// into `out`: 1, or 0 with `out` untouched. The version is
// out[0].out[1].out[2].(out[3]*256+out[4]).
int getDriverLessFirmInfo(uint8_t* out);
