#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codec/frame_codec.h"
#include "device/frame_transfer.h"
#include "image/image_file.h"

// The parameters of the compressed sender's slice, for a region equal to a width x height
// image.
inline FrameCodecParams SenderParams(int width, int height) {
    FrameCodecParams p = CompressedSliceParams();
    p.width = static_cast<uint16_t>(width);
    p.height = static_cast<uint16_t>(height);
    p.imageWidth = width;
    p.imageHeight = height;
    return p;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows top-down, 3 bytes a pixel
};

// A picture from tests/data, through the program's own reader; empty when it cannot be read.
inline Picture ReadPpm(const std::string& name) {
    Image image;
    std::string error;
    Picture p;
    if (!ReadImage(std::string(KV_TEST_DATA_DIR) + "/" + name, &image, &error)) {
        return p;
    }
    for (size_t i = 0; i + 2 < image.bgr.size(); i += 3) {
        std::swap(image.bgr[i], image.bgr[i + 2]);
    }
    p.width = image.width;
    p.height = image.height;
    p.rgb = std::move(image.bgr);
    return p;
}

// The picture as a source image of `bitsPerPixel` (8: channel 0 only; 32: a fourth byte
// that varies), rows padded to 4 bytes, in memory top-down or bottom-up.
inline std::vector<uint8_t> PictureImage(const Picture& pic, int bitsPerPixel, bool topDown) {
    const int bytes = bitsPerPixel / 8;
    const size_t stride = (static_cast<size_t>(pic.width) * bytes + 3) / 4 * 4;
    std::vector<uint8_t> image(stride * pic.height);
    for (int r = 0; r < pic.height; ++r) {
        uint8_t* row = &image[(topDown ? r : pic.height - 1 - r) * stride];
        for (int c = 0; c < pic.width; ++c) {
            const uint8_t* px = &pic.rgb[(static_cast<size_t>(r) * pic.width + c) * 3];
            for (int k = 0; k < bytes; ++k) {
                row[c * bytes + k] = k < 3 ? px[k] : static_cast<uint8_t>(r * 31 + c);
            }
        }
    }
    return image;
}

struct Encoded {
    bool ok = false;
    int length = 0;
    std::vector<uint8_t> bytes;  // the `length` bytes written
};

// Encodes into a heap buffer of exactly MaxEncodedLength bytes, so that AddressSanitizer
// catches any write beyond it.
inline Encoded EncodeExact(FrameCodecParams& p, const uint8_t* source) {
    Encoded e;
    const size_t capacity = MaxEncodedLength(p, source != nullptr);
    if (capacity == 0)
        return e;
    std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
    e.ok = EncodeFrame(&p, source, out.get(), &e.length);
    if (e.ok)
        e.bytes.assign(out.get(), out.get() + e.length);
    return e;
}

inline std::string Hex(const uint8_t* bytes, size_t count) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
        s += b;
    }
    return s;
}
inline std::string Hex(const std::vector<uint8_t>& v, size_t from = 0, size_t count = SIZE_MAX) {
    return Hex(v.data() + from, std::min(count, v.size() - from));
}

// The stream's bytes in order from payload words stored least significant byte first.
inline std::vector<uint8_t> StreamFromWords(const uint8_t* words, size_t bytes) {
    std::vector<uint8_t> s(bytes);
    for (size_t i = 0; i < bytes; ++i)
        s[i] = words[(i & ~size_t{3}) + 3 - (i & 3)];
    return s;
}

// Reads a bit stream most significant bit first.
class TestBitReader {
  public:
    explicit TestBitReader(std::vector<uint8_t> bytes, size_t bit = 0)
        : bytes_(std::move(bytes)), bit_(bit) {}
    unsigned Bit() {
        const unsigned b = (bytes_.at(bit_ / 8) >> (7 - bit_ % 8)) & 1;
        ++bit_;
        return b;
    }
    uint32_t Read(int n) {
        uint32_t v = 0;
        while (n-- > 0)
            v = v << 1 | Bit();
        return v;
    }
    std::string Bits(int n) {
        std::string s;
        while (n-- > 0)
            s += Bit() ? '1' : '0';
        return s;
    }
    // One ValueCodes code: its difference modulo 256, as -127..128.
    int Value() {
        // Category codes: 00, 010 ... 110, 1110, 11110, 11111.
        int category;
        if (Bit() == 0) {
            category = Bit() == 0 ? 0 : 1 + static_cast<int>(Read(1));
        } else if (Bit() == 0) {
            category = 3 + static_cast<int>(Read(1));
        } else if (Bit() == 0) {
            category = 5;
        } else if (Bit() == 0) {
            category = 6;
        } else {
            category = Bit() == 0 ? 7 : 8;
        }
        if (category == 8) {
            const uint32_t escape = Read(2);
            return escape == 0 ? 128 : escape == 3 ? 127 : -127;
        }
        if (category == 0)
            return 0;
        const int extra = static_cast<int>(Read(category));
        return extra >> (category - 1) ? extra : extra - (1 << category) + 1;
    }
    size_t Position() const { return bit_; }
    void Seek(size_t bit) { bit_ = bit; }

  private:
    std::vector<uint8_t> bytes_;
    size_t bit_;
};

// a - b modulo 256, as -127..128.
inline int WrapDifference(int a, int b) {
    int d = (a - b) & 0xFF;
    return d > 128 ? d - 256 : d;
}
