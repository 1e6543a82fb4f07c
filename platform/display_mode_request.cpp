#include "platform/display_mode_request.h"

DisplayMode ModeForSize(const std::optional<DisplayMode>& original, int width, int height) {
    DisplayMode size;
    size.width = static_cast<uint32_t>(width);
    size.height = static_cast<uint32_t>(height);
    if (original && original->width == size.width && original->height == size.height) {
        return *original;
    }
    return size;
}
