#pragma once

#include <cstdint>
#include <optional>

#include "image/window_fit.h"

// Where the one window shown (a window handle, as KVCapSetWindow takes it) is on the desktop,
// in the desktop's pixels: the bounds the compositor draws it in (DWMWA_EXTENDED_FRAME_BOUNDS,
// without the invisible resize borders that its window rectangle holds), or its window
// rectangle where the compositor cannot tell. Nothing once the window is gone.
std::optional<PixelRect> WindowBoundsOnDesktop(uint64_t window);
