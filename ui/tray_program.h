#pragma once

#include <windows.h>

// The tray program from WinMain on, once its device backend is chosen: a crash handler that
// puts the desktop back, then the engine with the tray window's message loop. Returns 0 on
// every path. `instanceFileName`: the executable name the single-instance check counts.
int RunTrayProgram(HINSTANCE instance, const char* instanceFileName);
