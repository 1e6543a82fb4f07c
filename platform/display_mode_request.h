#pragma once

#include <cstdint>
#include <optional>

// A display mode as the system describes it. 0 in bitsPerPixel or frequency leaves that
// quantity to the system.
struct DisplayMode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t frequency = 0;  // Hz
};

// The mode to ask for when the desktop is to become width x height. Going back to the size of
// the mode in force before the program's first change brings back that whole mode, so a
// 144 Hz monitor does not return at 60 Hz or a 30-bit one at 32; any other size is asked for
// alone.
DisplayMode ModeForSize(const std::optional<DisplayMode>& original, int width, int height);
