#include "device/frame_transfer.h"

#include <atomic>
#include <cstring>

#include "codec/frame_codec.h"
#include "device/device_discovery.h"
#include "device/kept_frame.h"
#include "device/scsi_commands.h"

alignas(PAGE_BYTES) uint8_t g_TransferBuffer[TRANSFER_BUFFER_BYTES];
uint8_t g_EndMarker[END_MARKER_BYTES];
int g_bFrameToggle = 0;

namespace {

constexpr uint8_t HEADER_TYPE_RAW = 0;
constexpr uint8_t HEADER_TYPE_COMPRESSED = 1;
constexpr uint8_t HEADER_TYPE_END = 2;
constexpr uint16_t END_MARKER_TAG = 2;
constexpr uint8_t END_MARKER_FLAGS = 0x80;

// A full slice as the codec sees it: 1024 x 21 pixels of 3 bytes, rows top-down.
constexpr uint16_t SLICE_WIDTH = 1024;
constexpr uint16_t SLICE_HEIGHT = 21;
constexpr uint8_t SLICE_WIDTH_ATTR = 2;
constexpr uint8_t SLICE_CODEC_FLAGS = FLAG_TOP_DOWN | FLAG_WORD_WRITER | FLAG_SEGMENT_CODER;
constexpr uint8_t SLICE_HDR_BYTE18 = 4;
constexpr int SLICE_SEGMENT_PIXELS = 64;
// The last slice is described as rows of 32 pixels' height: width n / 96.
constexpr uint16_t LAST_SLICE_HEIGHT = 32;
constexpr uint32_t LAST_SLICE_BYTES_PER_COLUMN = LAST_SLICE_HEIGHT * 3;

static_assert(SLICE_WIDTH * SLICE_HEIGHT * 3 == SLICE_BYTES);

FrameCodecParams HeaderParams(uint8_t type) {
    FrameCodecParams params{};
    params.marker = kFrameMarker;
    params.headerSize = kFrameHeaderBytes;
    params.type = type;
    return params;
}

std::atomic<FrameCancelCheck> g_pfnFrameCancelled{nullptr};

bool FrameCancelled() {
    FrameCancelCheck check = g_pfnFrameCancelled.load();
    return check != nullptr && check();
}

uint32_t SliceAddress(uint32_t slice) {
    return (g_bFrameToggle != 0 ? BANK1_BASE : BANK0_BASE) + (slice + 1) * SLICE_BYTES;
}

// A failed command ends the frame: 1167 when the projector is gone, -1 otherwise.
int FrameError(int result) {
    return result == static_cast<int>(ERROR_DEVICE_NOT_CONNECTED) ? result : -1;
}

// Frames kept slice `slice`'s n bytes where they are kept: lead-in and raw slice header before
// them, the end marker after. Returns the slot, which starts the write of the
// KEPT_SLICE_OFFSET + n + END_MARKER_BYTES bytes.
const uint8_t* FrameKeptSlice(uint32_t slice, uint32_t n, uint16_t width, uint16_t height) {
    uint8_t* slot = KeptSlot(slice);
    std::memset(slot, 0, LEAD_IN_BYTES);
    BuildSliceHeader(slot + LEAD_IN_BYTES, width, height, n);
    std::memcpy(slot + KEPT_SLICE_OFFSET + n, g_EndMarker, END_MARKER_BYTES);
    return slot;
}

// Assembles lead-in, the codec's unit for full slice `slice` at `source` (header included)
// and the end marker; returns the write length. The unit kept from an earlier frame with the
// same bytes is the one the codec would write again.
uint32_t StageCompressedSlice(uint32_t slice, const uint8_t* source) {
    std::memset(g_TransferBuffer, 0, LEAD_IN_BYTES);
    uint8_t* unit = g_TransferBuffer + LEAD_IN_BYTES;
    uint32_t coded = 0;
    const uint8_t* kept = KeptUnit(slice, &coded);
    if (kept != nullptr) {
        std::memcpy(unit, kept, coded);
    } else {
        FrameCodecParams params = CompressedSliceParams();
        int outLength = 0;
        // These parameters are always accepted.
        EncodeFrame(&params, source, unit, &outLength);
        coded = static_cast<uint32_t>(outLength);
        KeepUnit(slice, unit, coded);
    }
    std::memcpy(unit + coded, g_EndMarker, END_MARKER_BYTES);
    return LEAD_IN_BYTES + coded + END_MARKER_BYTES;
}

// Writes the frame's slices into the bank g_bFrameToggle selects; stops at the first
// failure. The compressed sender's last write starts at the header, without lead-in.
int SendSlices(const uint8_t* frame, bool compress) {
    if (frame != nullptr) {
        KeepFrame(frame);
    }
    uint32_t remaining = FRAME_BYTES;
    uint32_t slice = 0;
    for (; remaining > SLICE_BYTES; ++slice, remaining -= SLICE_BYTES) {
        if (FrameCancelled()) {
            return -1;
        }
        const uint8_t* write = g_TransferBuffer;
        uint32_t length = SLICE_WRITE_BYTES;
        if (compress) {
            length = StageCompressedSlice(slice, KeptSlot(slice) + KEPT_SLICE_OFFSET);
        } else {
            write = FrameKeptSlice(slice, SLICE_BYTES, SLICE_WIDTH, SLICE_HEIGHT);
        }
        int result = scsi_cmd_write_driverless(g_hDisk1, write, length, SliceAddress(slice));
        if (result != 0) {
            return FrameError(result);
        }
    }
    if (FrameCancelled()) {
        return -1;
    }
    const uint8_t* write = FrameKeptSlice(
        slice, remaining, static_cast<uint16_t>(remaining / LAST_SLICE_BYTES_PER_COLUMN),
        LAST_SLICE_HEIGHT);
    uint32_t start = compress ? LEAD_IN_BYTES : 0;
    uint32_t length = KEPT_SLICE_OFFSET + remaining + END_MARKER_BYTES;
    int result =
        scsi_cmd_write_driverless(g_hDisk1, write + start, length - start, SliceAddress(slice));
    return result != 0 ? FrameError(result) : 0;
}

// The slices, then the frame-done command, within the frame's bounds. The compressed sender
// does not look at the frame-done's result: a projector that is gone fails the next frame's
// first write.
int SendFrame(const uint8_t* frame, bool compress) {
    g_pDeviceBackend->BeginFrame();
    int result = SendSlices(frame, compress);
    if (result == 0) {
        int done = scsi_cmd_control_driverless(g_hDisk1, CTRL_FRAME_DONE);
        result = done != 0 && !compress ? FrameError(done) : 0;
    }
    g_pDeviceBackend->EndFrame();
    return result;
}

}  // namespace

FrameCodecParams CompressedSliceParams() {
    FrameCodecParams params = HeaderParams(HEADER_TYPE_COMPRESSED);
    params.width = SLICE_WIDTH;
    params.widthAttr = SLICE_WIDTH_ATTR;
    params.height = SLICE_HEIGHT;
    params.flags = SLICE_CODEC_FLAGS;
    params.hdrByte18 = SLICE_HDR_BYTE18;
    params.imageWidth = SLICE_WIDTH;
    params.imageHeight = SLICE_HEIGHT;
    params.bitsPerPixel = 24;
    params.segmentPixels = SLICE_SEGMENT_PIXELS;
    return params;
}

void SetFrameCancelCheck(FrameCancelCheck check) {
    g_pfnFrameCancelled.store(check);
}

void BuildEndMarker() {
    FrameCodecParams params = HeaderParams(HEADER_TYPE_END);
    params.tag = END_MARKER_TAG;
    params.flags = END_MARKER_FLAGS;
    WriteFrameHeader(&params, g_EndMarker);
}

void BuildSliceHeader(uint8_t* header, uint16_t width, uint16_t height, uint32_t byteCount) {
    FrameCodecParams params = HeaderParams(HEADER_TYPE_RAW);
    params.width = width;
    params.height = height;
    params.payloadSize = static_cast<int32_t>(byteCount);
    params.flags = FLAG_TOP_DOWN;
    WriteFrameHeader(&params, header);
}

int SendFrameRaw(const uint8_t* frame) {
    return SendFrame(frame, false);
}

int SendFrameCompressed(const uint8_t* frame) {
    return SendFrame(frame, true);
}
