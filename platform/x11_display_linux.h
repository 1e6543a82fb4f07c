#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

// What the X11 parts of the program share: Xlib errors kept instead of ending the process,
// and the primary monitor, the area Windows would call the screen.

// Installs, once for the process, an Xlib error handler that keeps the code of an error for
// the thread whose request caused it (each connection is used by one thread at a time).
void TrapX11Errors();
// The code of the last X error on this thread since the last call, 0 when there was none.
// Errors of requests without a reply arrive later: XSync first.
int TakeX11Error();

struct MonitorArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct PrimaryMonitor {
    RRCrtc crtc = 0;  // 0 when the screen has no RandR 1.2 monitors
    RROutput output = 0;
    MonitorArea area;  // in root window coordinates
};

// The whole screen (all monitors), read afresh from the server.
MonitorArea WholeScreenArea(Display* display);

// True when the server speaks RandR 1.2 or later, which monitors need.
bool HasRandrMonitors(Display* display);

// The CRTC of the primary output, or without one the first active CRTC. `resources` may be
// null when the server has no RandR 1.2; the monitor is then the whole screen.
PrimaryMonitor FindPrimaryMonitor(Display* display, XRRScreenResources* resources);

// The area of the primary monitor, read afresh from the server.
MonitorArea PrimaryMonitorArea(Display* display);

// The area of the RandR 1.5 monitor of that name, read afresh; false when the server has no
// such monitor.
bool NamedMonitorArea(Display* display, const char* name, MonitorArea* area);
