#pragma once

#include <cstdint>

// The tray menu's display-mode, power-mode and presenter commands, mapped onto the engine's
// operations.

// Carries out a display-mode, power-mode, freeze, blank or flip command (WM_COMMAND's
// identifier, or a hotkey's), traced as the menu's commands are. Freeze and blank turn the
// wall's hold over. Any other identifier, About included, does nothing here.
void RunMenuCommand(uint32_t commandId);
