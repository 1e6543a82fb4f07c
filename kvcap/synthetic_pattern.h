#pragma once

#include <cstdint>

// The synthetic source's moving test pattern; frame n of a session depends on n and the
// session's size only, so tests and the demo can predict every byte:
// - blue rises with the column (x * 255 / (width - 1)), green with the row
//   (y * 255 / (height - 1)), red is kPatternRed;
// - a bar of kPatternBarWidth columns of pure red (blue 0, green 0, red 255) begins at column
//   (n * kPatternBarStep) % width and wraps at the right edge;
// - the first 8 bytes of the frame hold n as a little-endian 32-bit number, then its
//   complement, so a test can read the frame's index and tell it from chance.
inline constexpr uint8_t kPatternRed = 0x40;
inline constexpr int kPatternBarWidth = 16;
inline constexpr int kPatternBarStep = 8;
inline constexpr int kPatternStampBytes = 8;

void DrawSyntheticPattern(uint32_t frameIndex, int width, int height, uint8_t* bgr);

// The index stamped into a pattern frame; false when the first 8 bytes hold no stamp.
bool ReadPatternStamp(const uint8_t* bgr, uint32_t* frameIndex);
