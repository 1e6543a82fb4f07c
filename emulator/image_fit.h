#pragma once

#include "emulator/image_file.h"

namespace emu {

// Scales `source` to fit `width` x `height` keeping its aspect ratio (averaging when shrinking,
// interpolating when enlarging), centred, the rest black. A picture of that size comes back
// unchanged.
Image FitImage(const Image& source, int width, int height);

}  // namespace emu
