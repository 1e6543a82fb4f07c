#pragma once

#include <windows.h>

// One window on the wall instead of the desktop, from the tray menu: the window the user was
// working in when they clicked the icon. The click makes the taskbar the foreground window, so
// the window is the topmost one in the Z order that is a user's window: shown, not minimised,
// not a tool window, not cloaked (another virtual desktop), not the taskbar, the desktop or
// this program's own.

// Notes that window, when the icon is clicked and before the menu opens.
void NoteWindowToShow();
// IDM_ONE_WINDOW: the noted window on the wall, or, while one is shown, the whole desktop
// again. Traced; with no window noted nothing changes.
void ToggleOneWindow();
// The once-a-second poll: when the window shown was closed, the whole desktop is back; the
// user is told once.
void PollClosedWindow();
