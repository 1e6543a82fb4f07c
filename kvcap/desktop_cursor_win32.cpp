#include "kvcap/desktop_cursor_win32.h"

#include <algorithm>

void DrawCursorScaled(HDC dc, const RECT& screen, int width, int height) {
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    if (!GetCursorInfo(&cursor) || (cursor.flags & CURSOR_SHOWING) == 0 ||
        cursor.hCursor == nullptr) {
        return;
    }
    ICONINFO icon{};
    if (!GetIconInfo(cursor.hCursor, &icon)) {
        return;
    }
    BITMAP mask{};
    GetObjectW(icon.hbmMask, sizeof mask, &mask);
    // A monochrome cursor keeps its AND and XOR masks one above the other.
    int cursorWidth = mask.bmWidth;
    int cursorHeight = icon.hbmColor != nullptr ? mask.bmHeight : mask.bmHeight / 2;
    if (icon.hbmColor != nullptr) {
        DeleteObject(icon.hbmColor);
    }
    DeleteObject(icon.hbmMask);

    int screenWidth = screen.right - screen.left;
    int screenHeight = screen.bottom - screen.top;
    if (screenWidth <= 0 || screenHeight <= 0) {
        return;
    }
    int left = cursor.ptScreenPos.x - screen.left - static_cast<int>(icon.xHotspot);
    int top = cursor.ptScreenPos.y - screen.top - static_cast<int>(icon.yHotspot);
    DrawIconEx(dc, MulDiv(left, width, screenWidth), MulDiv(top, height, screenHeight),
               cursor.hCursor, std::max(1, MulDiv(cursorWidth, width, screenWidth)),
               std::max(1, MulDiv(cursorHeight, height, screenHeight)), 0, nullptr, DI_NORMAL);
}
