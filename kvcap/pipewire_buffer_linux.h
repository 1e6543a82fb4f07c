#pragma once

#include <spa/buffer/buffer.h>
#include <spa/param/video/raw.h>
#include <spa/pod/pod.h>

#include <cstdint>
#include <vector>

#include "image/area_scaler.h"
#include "image/window_fit.h"

// What a screen-cast stream says of itself: its format, and each buffer's picture and damage.

// The 32-bit layouts compositors offer, and where blue, green and red lie in each.
struct StreamFormatLayout {
    spa_video_format format;
    PixelLayout layout;
};
inline constexpr StreamFormatLayout kStreamFormats[] = {
    {SPA_VIDEO_FORMAT_BGRx, {0, 1, 2}}, {SPA_VIDEO_FORMAT_BGRA, {0, 1, 2}},
    {SPA_VIDEO_FORMAT_RGBx, {2, 1, 0}}, {SPA_VIDEO_FORMAT_RGBA, {2, 1, 0}},
    {SPA_VIDEO_FORMAT_xRGB, {3, 2, 1}}, {SPA_VIDEO_FORMAT_ARGB, {3, 2, 1}},
    {SPA_VIDEO_FORMAT_xBGR, {1, 2, 3}}, {SPA_VIDEO_FORMAT_ABGR, {1, 2, 3}},
};

struct StreamFormat {
    int width = 0;
    int height = 0;
    PixelLayout layout;
};

// The format the compositor settled on: a raw video format of kStreamFormats, 1 to `maxSize`
// pixels each way. False for any other.
bool ReadStreamFormat(const spa_pod* format, int maxSize, StreamFormat* out);

// A picture is in it: the buffer is not marked corrupted, and its data is mapped and filled.
// A compositor that sends the cursor as metadata sends buffers without a picture when only
// the cursor moved.
bool BufferHoldsPicture(const spa_buffer* buffer);

// False when the buffer's damage says that the compositor changed nothing in it: its list of
// changed regions (SPA_META_VideoDamage) ends before the first. A buffer without the list may
// have changed anything.
bool BufferShowsChange(const spa_buffer* buffer);

// The part of a `width` x `height` picture the compositor says to show (SPA_META_VideoCrop):
// a window's stream may be the size of the screen with the window in a corner. Clipped to the
// picture; the whole picture when the buffer marks no part, or one with no pixel in it.
PixelRect PictureCrop(const spa_buffer* buffer, int width, int height);

// Copies `crop` (within the picture, as PictureCrop gives it) of the picture in a buffer's
// first data plane, `width` x `height` pixels of 4 bytes, into packed rows in `pixels`. False,
// with `pixels` untouched, when the picture's rows as its chunk states them (the offset, taken
// modulo the plane's size as PipeWire defines it, and the stride) do not lie within the
// plane's memory, or the crop not within the picture.
bool CopyPicture(const spa_data& data, int width, int height, PixelRect crop,
                 std::vector<uint8_t>* pixels);
