#pragma once

#include <cstdint>
#include <string>

// One X window for the wall instead of the whole desktop (--window, --control window=...): a
// window named by its ID checked on the display, or one the user picks by clicking it.

// Whether the X display has a window of that ID.
bool X11WindowExists(uint64_t id);

// Asks the user, on standard error, to click a window: the pointer becomes a crosshair, the
// first button picks the window under it (the application's, not its frame's), another button,
// Esc or a stop signal cancels. 0 with its ID in *id, or MIRROR_EXIT_USAGE with *error.
int PickX11Window(uint64_t* id, std::string* error);
