#pragma once

#include <windows.h>

// The user's session as the wall sees it (session_view.h): read before the first frame, so that
// a program started on a locked or remote session shows nothing from the start, and again once
// the window hears of its changes, so that none made in between is missed; then followed
// through the window's WM_WTSSESSION_CHANGE.
void ReadSessionState();
void OnSessionChange(WPARAM change);
