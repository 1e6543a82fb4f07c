#pragma once

#include "image/image.h"

// Pictures from files brought to a frame's size, for kvusbtool show and the capture library's
// replay of pictures. Each output pixel is the mean of the source span it covers when
// shrinking, and interpolated between the two nearest source pixels when enlarging, in
// floating point; a picture of the same size comes back unchanged. (Live capture has an exact
// integer scaler of its own: area_scaler.h.)

// `source` scaled to `width` x `height`, whatever its aspect ratio.
Image ScaleImage(const Image& source, int width, int height);

// `source` scaled to fit `width` x `height` with its aspect ratio kept, centred, the rest
// black.
Image FitImage(const Image& source, int width, int height);
