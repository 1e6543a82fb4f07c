#pragma once

#include <cstdint>

// The projector's power mode as the program last read it, and the user's change of it.

// Last power mode read from the projector: 0 Auto Power, anything else ECO. One thread only.
extern uint32_t PowerMode;

// Reads the projector's power mode into PowerMode; a failed read keeps the previous value.
void RefreshPowerMode();

// Sets the projector's power mode (POWER_MODE_AUTO or POWER_MODE_ECO), then reads back what
// it took: the projector's register is the authority.
void ChangePowerMode(uint8_t mode);
