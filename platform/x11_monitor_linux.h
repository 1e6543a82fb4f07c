#pragma once

#include <string>

#include "platform/x11_display_linux.h"

// A RandR 1.5 monitor of our own beside the X screen's others: the framebuffer is made wider
// by the monitor's width (and as tall as it, if it is taller) and the monitor laid over the
// new part on the right, driving no output. Window managers place and maximise windows on it
// as on any monitor; nothing shows it but whoever reads that area of the screen.

struct AddedMonitor {
    std::string name;
    MonitorArea area;
    // The screen before, in pixels and millimetres, for putting it back.
    int screenWidth = 0;
    int screenHeight = 0;
    int screenWidthMm = 0;
    int screenHeightMm = 0;
};

// False with the reason in *why when the server has no RandR 1.5 or its screen cannot grow
// that far.
bool AddX11Monitor(Display* display, const char* name, int width, int height, AddedMonitor* added,
                   std::string* why);
// Deletes the monitor and gives the screen its size back.
void RemoveX11Monitor(Display* display, const AddedMonitor& added);
