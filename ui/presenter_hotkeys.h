#pragma once

#include <windows.h>

#include "ui/language_blocks.h"

// The presenter's global hotkeys: freeze and blank from whatever program has the keyboard, as
// the menu's texts list them. Ctrl+Alt is AltGr on many keyboards, where AltGr+F and AltGr+B
// type brackets; with Shift too, no common layout types anything.

struct PresenterHotkey {
    int id;          // WM_HOTKEY's wParam
    UINT modifiers;  // MOD_*
    UINT key;        // virtual-key code
    UINT command;    // the menu command it runs
    TextRole item;   // the menu item that lists it after a tab
};
extern const PresenterHotkey PRESENTER_HOTKEYS[2];

// Registered once, with the window. A hotkey another program holds already is traced and told
// in one notice, and left to that program: nothing tries again.
void RegisterPresenterHotkeys(HWND hwnd);
void UnregisterPresenterHotkeys(HWND hwnd);
// WM_HOTKEY: the menu command of the hotkey `id`, 0 when it is none of ours.
UINT PresenterHotkeyCommand(WPARAM id);
