#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/frame_decoder.h"
#include "emulator/slice_check.h"

// Collects the slices of one frame as they are written; frame-done closes the frame, and the
// projector's decoder puts the 854 x 480 picture together from it. Slices are kept as they
// arrive rather than read back from bank memory: a raw write is 104 bytes longer than the
// slice spacing, so the next slice's lead-in and header land on the end of the previous one.

namespace emu {

struct FrameSlice {
    SliceKind kind = SliceKind::Raw;
    std::vector<uint8_t> unit;  // header, payload and padding
};

struct ClosedFrame {
    int bank = 0;
    std::array<FrameSlice, 20> slices;
};

class FrameAssembler {
  public:
    // Takes a slice whose envelope was sound. Returns "" or how it breaks the frame's order.
    std::string AddSlice(int bank, const SliceWrite& slice);

    // A write of slice `index` whose envelope was not sound: its frame will not be shown.
    void RejectSlice(int bank, int index);

    enum class Outcome { Ready, Rejected, Error };

    // Frame-done. Ready: *frame holds the 20 slices (its previous storage is kept for reuse).
    // Rejected: the frame had a protocol error, already reported. Error: *error says why.
    Outcome Close(ClosedFrame* frame, std::string* error);

    // Frames begun again at slice 0 before their frame-done (a failed write ended them).
    int abandoned() const { return abandoned_; }

  private:
    void Begin(int bank);

    std::array<FrameSlice, 20> slices_;
    int bank_ = -1;  // -1: no frame begun since the last frame-done
    int next_ = 0;   // the slice expected next
    bool broken_ = false;
    SliceKind frameKind_ = SliceKind::Raw;
    int abandoned_ = 0;
};

// Decodes the compressed slices of `frame` with the project's decoder, copies the raw ones, and
// puts the picture into `pixels` (kFrameBytes). Returns "" or what failed.
std::string AssembleFrame(const ClosedFrame& frame, DecodedRegion* scratch,
                          std::vector<uint8_t>* pixels);

}  // namespace emu
