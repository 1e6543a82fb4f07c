#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The envelope of one frame write: lead-in, frame header, payload, end marker.

namespace emu {

enum class SliceKind { Raw, Compressed };

struct SliceWrite {
    int index = 0;  // 0 to 19
    bool leadIn = false;
    SliceKind kind = SliceKind::Raw;
    const uint8_t* unit = nullptr;  // the frame header, the payload and its padding
    size_t unitLength = 0;
};

// Checks the write of slice `index` of `length` bytes and says where its unit lies. Returns an
// empty text when the envelope is sound, else what is wrong with it.
std::string CheckSliceWrite(int index, const uint8_t* data, size_t length, SliceWrite* slice);

}  // namespace emu
