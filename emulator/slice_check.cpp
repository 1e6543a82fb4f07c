#include "emulator/slice_check.h"

#include <cstring>
#include <initializer_list>

#include "codec/frame_decoder.h"
#include "emulator/hex_text.h"
#include "emulator/projector_protocol.h"

namespace emu {
namespace {

struct Field {
    const char* name;
    uint32_t actual;
    uint32_t expected;
};

// The first header field that differs from what the slice kind fixes, or "".
std::string FirstMismatch(const char* what, std::initializer_list<Field> fields) {
    for (const Field& field : fields) {
        if (field.actual != field.expected) {
            return std::string(what) + " header: " + field.name + " " +
                   std::to_string(field.actual) + ", expected " + std::to_string(field.expected);
        }
    }
    return "";
}

std::string CheckRawHeader(int index, const FrameHeader& h) {
    bool last = index == kLastSlice;
    uint32_t bytes = static_cast<uint32_t>(last ? kLastSliceBytes : kSliceBytes);
    uint32_t width = last ? bytes / (kBytesPerPixel * kLastSliceHeight) : kSliceWidth;
    uint32_t height = last ? kLastSliceHeight : kSliceHeight;
    return FirstMismatch("raw slice", {{"payload size", h.payloadSize, bytes},
                                       {"width", h.width, width},
                                       {"height", h.height, height},
                                       {"flags", h.flags, kRawFlags},
                                       {"tag", h.tag, 0},
                                       {"x", h.x, 0},
                                       {"y", h.y, 0},
                                       {"x attribute", h.xAttr, 0},
                                       {"y attribute", h.yAttr, 0},
                                       {"width attribute", h.widthAttr, 0},
                                       {"height attribute", h.heightAttr, 0},
                                       {"payload attribute", h.payloadAttr, 0},
                                       {"byte 17", h.hdrByte17, 0},
                                       {"byte 18", h.hdrByte18, 0}});
}

std::string CheckCompressedHeader(const FrameHeader& h) {
    return FirstMismatch("compressed slice",
                         {{"width", h.width, kSliceWidth},
                          {"height", h.height, kSliceHeight},
                          {"width attribute", h.widthAttr, kCompressedWidthAttr},
                          {"flags", h.flags, kCompressedFlags},
                          {"byte 18", h.hdrByte18, kCompressedHdrByte18},
                          {"tag", h.tag, 0},
                          {"x", h.x, 0},
                          {"y", h.y, 0},
                          {"x attribute", h.xAttr, 0},
                          {"y attribute", h.yAttr, 0},
                          {"height attribute", h.heightAttr, 0},
                          {"payload attribute", h.payloadAttr, 0},
                          {"byte 17", h.hdrByte17, 0}});
}

}  // namespace

std::string CheckSliceWrite(int index, const uint8_t* data, size_t length, SliceWrite* slice) {
    slice->index = index;
    slice->leadIn = length > 0 && data[0] == 0;
    size_t start = slice->leadIn ? kLeadInBytes : 0;
    if (length < start + kHeaderBytes + kEndMarkerBytes) {
        return "write of " + std::to_string(length) + " bytes is too short for " +
               (slice->leadIn ? "a lead-in, " : "") + "a frame header and the end marker";
    }
    if (!slice->leadIn && data[0] != 0xFB) {
        return "write begins with " + HexBytes(data, 1) +
               ": neither the 64-byte lead-in nor a frame header";
    }
    for (size_t i = 0; i < start; ++i) {
        if (data[i] != 0) {
            return "lead-in byte " + std::to_string(i) + " is " + HexBytes(data + i, 1) +
                   ", not 00";
        }
    }
    if (!slice->leadIn && index != kLastSlice) {
        return "slice " + std::to_string(index) + " lacks the 64-byte lead-in";
    }
    const uint8_t* end = data + length - kEndMarkerBytes;
    if (memcmp(end, kEndMarker, kEndMarkerBytes) != 0) {
        return "write does not close with the end marker: its last 20 bytes are " +
               HexBytes(end, kEndMarkerBytes);
    }

    FrameHeader header;
    const uint8_t* unit = data + start;
    size_t unitLength = length - start - kEndMarkerBytes;
    DecodeResult parsed = ParseFrameHeader(unit, kHeaderBytes, &header);
    if (parsed != DECODE_OK) {
        return std::string("frame header ") + HexBytes(unit, kHeaderBytes) + ": " +
               DecodeResultText(parsed);
    }
    if (header.headerSize != kHeaderBytes) {
        return "frame header size " + std::to_string(header.headerSize) + ", expected 20";
    }
    size_t payloadRoom = unitLength - kHeaderBytes;
    std::string mismatch;
    if (header.type == kTypeRaw) {
        slice->kind = SliceKind::Raw;
        mismatch = CheckRawHeader(index, header);
        if (mismatch.empty() && payloadRoom != header.payloadSize) {
            mismatch = "raw payload of " + std::to_string(payloadRoom) + " bytes, header says " +
                       std::to_string(header.payloadSize);
        }
    } else if (header.type == kTypeCompressed) {
        slice->kind = SliceKind::Compressed;
        if (index == kLastSlice) {
            return "the last slice is compressed; it must be raw";
        }
        mismatch = CheckCompressedHeader(header);
        size_t padded = (size_t{header.payloadSize} + 3) & ~size_t{3};
        if (mismatch.empty() && payloadRoom != padded) {
            mismatch = "compressed payload room of " + std::to_string(payloadRoom) +
                       " bytes, header says " + std::to_string(header.payloadSize) +
                       " bytes (padded to " + std::to_string(padded) + ")";
        }
        // The payload is whole 32-bit words stored least significant byte first (flag 0x10),
        // so the unused rest of the last word is at the start of its four bytes.
        size_t lastWord = kHeaderBytes + padded - 4;
        for (size_t i = 0; mismatch.empty() && i < padded - header.payloadSize; ++i) {
            if (unit[lastWord + i] != 0) {
                mismatch = "unused byte " + std::to_string(i) + " of the last payload word is " +
                           HexBytes(unit + lastWord + i, 1);
            }
        }
    } else {
        return "frame header type " + std::to_string(header.type) +
               " is neither raw (0) nor compressed (1)";
    }
    slice->unit = unit;
    slice->unitLength = unitLength;
    return mismatch;
}

}  // namespace emu
