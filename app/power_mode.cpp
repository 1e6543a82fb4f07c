#include "app/power_mode.h"

#include "device/device_status.h"

uint32_t PowerMode = POWER_MODE_AUTO;

void RefreshPowerMode() {
    const uint8_t mode = GetDevPowerMode();
    if (mode != POWER_MODE_FAILED) {
        PowerMode = mode;
    }
}

void ChangePowerMode(uint8_t mode) {
    SetDevPowerMode(mode);
    RefreshPowerMode();
}
