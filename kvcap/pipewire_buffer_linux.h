#pragma once

#include <spa/buffer/buffer.h>

// What a buffer of a screen-cast stream says of itself.

// A picture is in it: the buffer is not marked corrupted, and its data is mapped and filled.
// A compositor that sends the cursor as metadata sends buffers without a picture when only
// the cursor moved.
bool BufferHoldsPicture(const spa_buffer* buffer);

// False when the buffer's damage says that the compositor changed nothing in it: its list of
// changed regions (SPA_META_VideoDamage) ends before the first. A buffer without the list may
// have changed anything.
bool BufferShowsChange(const spa_buffer* buffer);
