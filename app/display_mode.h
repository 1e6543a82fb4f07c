#pragma once

#include <atomic>
#include <cstdint>

#include "app/desktop_restore.h"
#include "platform/settings_store.h"

// The user settings that decide what the projector shows, kept per user between runs: the
// display mode (the desktop at its own size, or switched to 800 x 600), the zoom, and the flip
// (FLIP_* of image/image_flip.h) for a projector on the ceiling or behind the screen.

inline constexpr int32_t DISP_MODE_MIRROR = 0;
inline constexpr int32_t DISP_MODE_800X600 = 1;
// The desktop size of DISP_MODE_800X600.
inline constexpr int DISP_800X600_WIDTH = 800;
inline constexpr int DISP_800X600_HEIGHT = 600;

// What the user chose; saved at shutdown, possibly from the sender thread.
extern std::atomic<int32_t> DispMode;
extern std::atomic<int32_t> ZoomMode;
extern std::atomic<int32_t> FlipMode;

// The desktop size when the program started (or the one a run left behind recorded), which
// every shutdown puts back when the program changed it.
extern int32_t g_nScreenWidth;
extern int32_t g_nScreenHeight;

// A menu choice: switches the desktop when the display mode changes, then reopens the
// session with the zoom (even when it is the one in force).
void SelectDisplayMode(int dispMode, int zoomMode);
// A menu or control choice: FLIP_NONE to FLIP_BOTH, the running session reopened with it;
// false, with nothing changed, for any other value.
bool SelectFlip(int flip);
// Start-up: the saved modes, and 800 x 600 on a first run or when it was saved.
void ApplySavedDisplayMode();

// HKEY_CURRENT_USER\Software\K7Q0KVUSB, values "DispMode", "ZoomMode" and "FlipMode".
inline constexpr char DISPLAY_SETTINGS_KEY[] = "Software\\K7Q0KVUSB";
inline constexpr char DISP_MODE_VALUE[] = "DispMode";
inline constexpr char ZOOM_MODE_VALUE[] = "ZoomMode";
inline constexpr char FLIP_MODE_VALUE[] = "FlipMode";

// 1 when the key could be opened, 0 otherwise (as on a first run).
int GetDisplaySettings();
// 1 when the key could be opened or created (a value that failed to be written is traced),
// 0 otherwise.
int SetDisplaySettings();
// The program's key for writing, created when it does not exist yet; false when it can be
// neither opened nor created, traced as `caller`'s failure.
bool OpenProgramKeyForWriting(const char* caller, SettingsKey* key);
