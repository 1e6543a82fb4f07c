#pragma once

#include <cstdint>

// How a picture is mirrored on its way to the wall: upside down for a projector on the ceiling,
// left to right for one behind the screen, or both. Saved as a setting, so the values stay.
inline constexpr int FLIP_NONE = 0;
inline constexpr int FLIP_HORIZONTAL = 1;
inline constexpr int FLIP_VERTICAL = 2;
inline constexpr int FLIP_BOTH = FLIP_HORIZONTAL | FLIP_VERTICAL;

// Mirrors a packed 3-byte-pixel picture in place, for the sources that scale elsewhere.
void FlipPicture(uint8_t* bgr, int width, int height, int flip);
