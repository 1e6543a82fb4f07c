#pragma once

#include <windows.h>

// The user's session as the wall sees it (session_view.h): read once before the first frame,
// so that a program started on a locked or remote session shows nothing from the start, then
// followed through the window's WM_WTSSESSION_CHANGE.
void TakeSessionStateAtStart();
void OnSessionChange(WPARAM change);
