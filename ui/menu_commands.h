#pragma once

#include <cstdint>

// The tray menu's display-mode and power-mode commands, and the power mode the menu shows.

// Last power mode read from the projector: 0 Auto Power, anything else ECO. UI thread only.
extern uint32_t PowerMode;

// Reads the projector's power mode into PowerMode; a failed read keeps the previous value.
void RefreshPowerMode();

// Carries out a display-mode or power-mode command (WM_COMMAND's identifier), traced as the
// menu's commands are. Any other identifier, About included, does nothing here.
void RunMenuCommand(uint32_t commandId);
