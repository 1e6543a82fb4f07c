#pragma once

#include <string>

struct MonitorArea;  // platform/x11_display_linux.h, kept out: Xlib's macros clash

// The screen --extend adds for the projector, and its removal. One per process: the ends of
// the run, an exit from the sender thread and a crash's signal handler all remove it.

// A RandR 1.5 monitor of `width` x `height` right of the X screen, on a connection of its own
// that stays open for the removal. False with the reason in *why.
bool ExtendX11Screen(int width, int height, MonitorArea* area, std::string* why);

// A headless output of `width` x `height` right of sway's outputs, through its IPC socket.
// *name is the output's, for instance "HEADLESS-2". False with the reason in *why.
bool ExtendSwayScreen(const std::string& socketPath, int width, int height, std::string* name,
                      MonitorArea* area, std::string* why);

// Removes what was added, once, from any thread. sway before 1.8 cannot take a headless output
// away, nor even disable it on the headless backend: the user is told when it stays.
void RemoveExtendedScreen();
// The same from a crash's signal handler: system calls only for sway, the connection of its
// own for X11; nothing is checked.
void RemoveExtendedScreenAfterCrash();
// The X display is gone, and the monitor with it: nothing is left to remove.
void AbandonExtendedScreen();
