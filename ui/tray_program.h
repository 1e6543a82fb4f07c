#pragma once

#include <windows.h>

// The first thing WinMain does: libraries loaded from now on come from System32 only, never
// from the program's folder or the current one, where an unprivileged user could plant one
// for this elevated program to run; and an empty card reader's drive raises no "no disk" box.
void HardenProcess();

// The tray program from WinMain on, once its device backend is chosen: a crash handler that
// puts the desktop back, then the engine with the tray window's message loop. Returns 0 on
// every path. `instanceFileName`: the executable name the single-instance check counts.
int RunTrayProgram(HINSTANCE instance, const char* instanceFileName);
