#include "codec/segment_kernels.h"

#include <gtest/gtest.h>

#include <random>

#include "codec_test_util.h"

namespace {

struct Case {
    const char* name;
    uint8_t type, flags;
    int bitsPerPixel, segmentPixels;
    int x, y, width, height;  // width 0: the whole picture
};

const Case kCases[] = {
    {"sender", 1, 0x31, 24, 64, 0, 0, 0, 0},
    {"stream order", 1, 0x21, 24, 64, 0, 0, 0, 0},
    {"bottom-up region", 1, 0x30, 24, 21, 5, 3, 150, 40},
    {"32 bits", 1, 0x31, 32, 85, 0, 0, 0, 0},
    {"pixel pairs", 1, 0x71, 32, 63, 0, 0, 0, 0},
    {"type 3", 3, 0x31, 32, 64, 0, 0, 0, 0},
    {"odd segments", 1, 0x31, 24, 7, 1, 1, 255, 95},
    {"one pixel segments", 1, 0x31, 24, 1, 0, 0, 40, 3},
    {"two pixel segments", 1, 0x21, 24, 2, 3, 2, 41, 3},
    {"one pixel", 1, 0x31, 24, 64, 7, 7, 1, 1},
    {"short row", 1, 0x31, 24, 64, 0, 9, 3, 2},
};

FrameCodecParams ParamsFor(const Case& c, const Picture& pic) {
    FrameCodecParams p = SenderParams(pic.width, pic.height);
    p.type = c.type;
    p.flags = c.flags;
    p.bitsPerPixel = c.bitsPerPixel;
    p.segmentPixels = c.segmentPixels;
    if (c.width > 0) {
        p.x = static_cast<uint16_t>(c.x);
        p.y = static_cast<uint16_t>(c.y);
        p.width = static_cast<uint16_t>(c.width);
        p.height = static_cast<uint16_t>(c.height);
    }
    return p;
}

constexpr size_t kGuardBytes = 64;

// EncodeFrameWith into a buffer of exactly MaxEncodedLength bytes followed by a guard that
// must stay untouched.
Encoded EncodeWith(const SegmentKernel& kernel, FrameCodecParams p, const uint8_t* source) {
    Encoded e;
    const size_t capacity = MaxEncodedLength(p);
    std::vector<uint8_t> out(capacity + kGuardBytes, 0xEE);
    e.ok = EncodeFrameWith(kernel, &p, source, out.data(), &e.length);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + capacity, out.end()),
              std::vector<uint8_t>(kGuardBytes, 0xEE))
        << kernel.name << " wrote past the output";
    if (e.ok)
        e.bytes.assign(out.begin(), out.begin() + e.length);
    return e;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 14695981039346656037u;
    for (uint8_t b : bytes)
        h = (h ^ b) * 1099511628211u;
    return h;
}

// Pictures that take every branch of the coder: real ones, noise (raw segments), a flat
// one, and thin lines on a flat ground (pairs of zeros with sparse edges between them).
std::vector<std::pair<std::string, Picture>> Pictures() {
    std::vector<std::pair<std::string, Picture>> pictures;
    for (const char* file : {"desktop_crop.ppm", "photo_crop.ppm"})
        pictures.emplace_back(file, ReadPpm(file));
    Picture noise{256, 96, std::vector<uint8_t>(256 * 96 * 3)};
    std::mt19937 rng(96);
    for (uint8_t& b : noise.rgb)
        b = static_cast<uint8_t>(rng());
    pictures.emplace_back("noise", noise);
    Picture lines{256, 96, std::vector<uint8_t>(256 * 96 * 3, 235)};
    for (size_t i = 0; i < lines.rgb.size(); i += 3 * 37)
        lines.rgb[i] = lines.rgb[i + 1] = static_cast<uint8_t>(i % 251);
    pictures.emplace_back("lines", lines);
    pictures.emplace_back("flat", Picture{256, 96, std::vector<uint8_t>(256 * 96 * 3, 40)});
    return pictures;
}

}  // namespace

// Every kernel this processor runs writes exactly the bytes of the SSE2 one, and nothing
// beyond the output MaxEncodedLength promises.
TEST(SegmentKernels, EveryKernelWritesTheBaselineBytes) {
    const std::vector<SegmentKernel>& kernels = RunnableSegmentKernels();
    ASSERT_FALSE(kernels.empty());
    const SegmentKernel& baseline = kernels.back();
    for (const auto& [name, pic] : Pictures()) {
        for (const Case& c : kCases) {
            const FrameCodecParams p = ParamsFor(c, pic);
            const std::vector<uint8_t> image =
                PictureImage(pic, c.bitsPerPixel, (c.flags & FLAG_TOP_DOWN) != 0);
            const Encoded expected = EncodeWith(baseline, p, image.data());
            ASSERT_TRUE(expected.ok) << name << ", " << c.name;
            for (const SegmentKernel& kernel : kernels) {
                const Encoded e = EncodeWith(kernel, p, image.data());
                EXPECT_TRUE(e.bytes == expected.bytes)
                    << kernel.name << ", " << name << ", " << c.name;
            }
        }
    }
}

// The units of two real pictures, pinned by digests taken from the encoder before it had
// kernels: a faster coder must not change a byte.
TEST(SegmentKernels, RealPicturesKeepTheirBytes) {
    struct Pinned {
        const char* file;
        uint64_t digest[7];  // kCases[0] to kCases[6]
    };
    const Pinned kPinned[] = {
        {"desktop_crop.ppm",
         {0xa3a67dd85dfc1943u, 0xf0be66b125c43053u, 0xa2733425fe7ae764u, 0x72c6a453f7211babu,
          0x005a7ad23c948693u, 0xdf468b8b74f1bfbbu, 0xc7ac5826d8ad28cdu}},
        {"photo_crop.ppm",
         {0x85e69ed78a2b4e4du, 0x10f52a759ca79505u, 0xab4ae9e733fdeb4au, 0xb7a8734274e7a01au,
          0x2464080057bdf94au, 0x5b12f75ccc6d2898u, 0x17d15eff1bbd419bu}},
    };
    for (const Pinned& pinned : kPinned) {
        const Picture pic = ReadPpm(pinned.file);
        for (int i = 0; i < 7; ++i) {
            const Case& c = kCases[i];
            FrameCodecParams p = ParamsFor(c, pic);
            const std::vector<uint8_t> image =
                PictureImage(pic, c.bitsPerPixel, (c.flags & FLAG_TOP_DOWN) != 0);
            const Encoded e = EncodeExact(p, image.data());
            ASSERT_TRUE(e.ok);
            EXPECT_EQ(Fnv1a(e.bytes), pinned.digest[i]) << pinned.file << ", " << c.name;
        }
    }
}
