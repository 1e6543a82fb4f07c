#include "emulator/frame_assembler.h"

#include <cstring>

#include "emulator/projector_protocol.h"

namespace emu {
namespace {

const char* KindName(SliceKind kind) {
    return kind == SliceKind::Raw ? "raw" : "compressed";
}

}  // namespace

void FrameAssembler::Begin(int bank) {
    if (next_ > 0) {
        ++abandoned_;
    }
    bank_ = bank;
    next_ = 0;
    broken_ = false;
}

void FrameAssembler::RejectSlice(int bank, int index) {
    if (index == 0) {
        Begin(bank);
    }
    broken_ = true;
    next_ = index + 1;
}

std::string FrameAssembler::AddSlice(int bank, const SliceWrite& slice) {
    int index = slice.index;
    if (index == 0) {
        Begin(bank);
        frameKind_ = slice.kind;
    }
    std::string error;
    if (broken_) {
        // The frame is lost already; one report per fault is enough.
    } else if (index != next_) {
        error = next_ == 0 ? "slice " + std::to_string(index) + " written before slice 0"
                           : "slice " + std::to_string(index) + " written after slice " +
                                 std::to_string(next_ - 1);
    } else if (bank != bank_) {
        error = "slice " + std::to_string(index) + " written to bank " + std::to_string(bank) +
                " while its frame began in bank " + std::to_string(bank_);
    } else if (index != kLastSlice && slice.kind != frameKind_) {
        error = "slice " + std::to_string(index) + " is " + KindName(slice.kind) + " in a " +
                KindName(frameKind_) + " frame";
    } else if (index == kLastSlice && frameKind_ == SliceKind::Raw && !slice.leadIn) {
        error = "the last slice of a raw frame lacks the 64-byte lead-in";
    } else if (index == kLastSlice && frameKind_ == SliceKind::Compressed && slice.leadIn) {
        error = "the last slice of a compressed frame has a lead-in; it must begin with the header";
    }
    broken_ = broken_ || !error.empty();
    next_ = index + 1;
    if (!broken_) {
        FrameSlice& kept = slices_[static_cast<size_t>(index)];
        kept.kind = slice.kind;
        kept.unit.assign(slice.unit, slice.unit + slice.unitLength);
    }
    return error;
}

FrameAssembler::Outcome FrameAssembler::Close(ClosedFrame* frame, std::string* error) {
    int written = next_;
    bool begun = bank_ >= 0;
    bool broken = broken_;
    frame->bank = bank_;
    bank_ = -1;
    next_ = 0;
    broken_ = false;
    if (!begun) {
        *error = "frame-done with no slice written since the last one";
        return Outcome::Error;
    }
    if (broken) {
        return Outcome::Rejected;
    }
    if (written != kSlicesPerFrame) {
        *error = "frame-done after " + std::to_string(written) + " of 20 slices";
        return Outcome::Error;
    }
    frame->slices.swap(slices_);
    return Outcome::Ready;
}

std::string AssembleFrame(const ClosedFrame& frame, DecodedRegion* scratch,
                          std::vector<uint8_t>* pixels) {
    pixels->resize(kFrameBytes);
    DecodeOptions options;
    options.bitsPerPixel = kBytesPerPixel * 8;
    options.segmentPixels = kSegmentPixels;
    for (int index = 0; index < kSlicesPerFrame; ++index) {
        const FrameSlice& slice = frame.slices[static_cast<size_t>(index)];
        size_t bytes = index == kLastSlice ? kLastSliceBytes : kSliceBytes;
        uint8_t* out = pixels->data() + index * kSliceBytes;
        if (slice.kind == SliceKind::Raw) {
            memcpy(out, slice.unit.data() + kHeaderBytes, bytes);
            continue;
        }
        DecodeResult result = DecodeFrame(slice.unit.data(), slice.unit.size(), options, scratch);
        if (result != DECODE_OK) {
            return "slice " + std::to_string(index) +
                   " does not decode: " + DecodeResultText(result);
        }
        if (scratch->bytesPerPixel != kBytesPerPixel || scratch->pixels.size() != bytes) {
            return "slice " + std::to_string(index) + " decodes to " +
                   std::to_string(scratch->pixels.size()) + " bytes of " +
                   std::to_string(scratch->bytesPerPixel) + "-byte pixels, expected " +
                   std::to_string(bytes) + " bytes";
        }
        memcpy(out, scratch->pixels.data(), bytes);
    }
    return "";
}

}  // namespace emu
