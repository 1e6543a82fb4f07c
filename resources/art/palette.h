#pragma once

#include "resources/art/canvas.h"

// Colours of the program's pictures. Pictures are copied onto menus and dialogs without
// blending, so they are painted on the usual face colour of both.
inline constexpr Colour FACE{240, 240, 240};
inline constexpr Colour ACCENT{0, 120, 215};
inline constexpr Colour ACCENT_LIGHT{110, 175, 235};
inline constexpr Colour WHITE{255, 255, 255};
inline constexpr Colour INK{50, 60, 75};
inline constexpr Colour OFF_RING{150, 150, 150};
inline constexpr Colour OFF_GLYPH{125, 125, 125};
inline constexpr Colour POWER_GREEN{16, 124, 16};
