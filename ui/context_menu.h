#pragma once

#include <windows.h>

#include <cstdint>

// The tray's context menu: built from resource 106 at every opening, localised, owner-drawn
// with a picture per item that tells the current modes, and torn down when it closes.

// One owner-drawn item, attached as its item data. Allocated with room for 256 characters
// and shrunk to the text it holds.
struct MenuItemData {
    HFONT hFont;      // owned
    HBITMAP hBitmap;  // owned by the menu build, may be null
    UINT cch;         // characters of text to measure and draw
    wchar_t text[256];
};

// Whether GetMenuItemInfoW reports text lengths in bytes; probed on the first item of a build.
extern bool cchIsByteCount;

// Asks SetOwnerDrawnItem to probe the length unit on this item.
inline constexpr DWORD PROBE_CCH_UNIT = 0x80000000;

void DisplayContextMenu(HWND hwnd, int x, int y);
// Makes the item at `position` owner-drawn with a copy of its text and `bitmap`. 1 on success.
int SetOwnerDrawnItem(HMENU menu, UINT position, HBITMAP bitmap, DWORD languageId);
HFONT CreateMenuItemFont(DWORD languageId);
void OnMeasureItem(MEASUREITEMSTRUCT* measureItem, HWND hwnd);
void OnDrawItem(DRAWITEMSTRUCT* drawItem);
