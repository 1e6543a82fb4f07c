#pragma once

#include <cstdint>

// The tray menu's display-mode and power-mode commands, mapped onto the engine's operations.

// Carries out a display-mode or power-mode command (WM_COMMAND's identifier), traced as the
// menu's commands are. Any other identifier, About included, does nothing here.
void RunMenuCommand(uint32_t commandId);
