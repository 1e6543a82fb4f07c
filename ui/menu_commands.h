#pragma once

#include <cstdint>

// The tray menu's display-mode, power-mode and presenter commands, mapped onto the engine's
// operations.

// Carries out a display-mode, power-mode, freeze, blank or flip command (WM_COMMAND's
// identifier, or a hotkey's), traced as the menu's commands are. Freeze and blank turn the
// wall's hold over. Any other identifier, About included, does nothing here.
void RunMenuCommand(uint32_t commandId);

// IDM_ONE_WINDOW, with the window the tray noted (a window handle, 0 for none): that window on
// the wall instead of the desktop, or, while one is shown, the whole desktop again. Traced.
void RunOneWindowCommand(uint64_t window);
// The once-a-second poll: true, once, when the window shown was closed; the whole desktop is
// back by then. Traced.
bool ClosedWindowEnded();
