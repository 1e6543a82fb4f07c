#pragma once

#include <windows.h>

// Draws the mouse cursor, when it is shown, into `dc`, which holds the screen area `screen`
// (desktop coordinates) scaled to width x height; the cursor is scaled the same way.
void DrawCursorScaled(HDC dc, const RECT& screen, int width, int height);
