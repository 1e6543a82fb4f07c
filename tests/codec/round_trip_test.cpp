#include <gtest/gtest.h>

#include "codec/frame_decoder.h"
#include "codec_test_util.h"

namespace {

// The region's pixels as the decoder returns them: `channels` bytes of each.
std::vector<uint8_t> Region(const Picture& pic, int bitsPerPixel, const FrameCodecParams& p,
                            int channels) {
    std::vector<uint8_t> out;
    for (int r = p.y; r < p.y + p.height; ++r) {
        for (int c = p.x; c < p.x + p.width; ++c) {
            const uint8_t* px = &pic.rgb[(static_cast<size_t>(r) * pic.width + c) * 3];
            for (int k = 0; k < channels; ++k) {
                out.push_back(k < 3 ? px[k] : static_cast<uint8_t>(r * 31 + c));
            }
        }
    }
    (void)bitsPerPixel;
    return out;
}

struct Case {
    const char* name;
    uint8_t type, flags;
    int bitsPerPixel, segmentPixels, channels;
};

const Case kCases[] = {
    {"sender", 1, 0x31, 24, 64, 3},
    {"segments, stream order", 1, 0x21, 24, 64, 3},
    {"segments, bottom-up, odd", 1, 0x30, 24, 21, 3},
    {"segments, 32 bits", 1, 0x31, 32, 85, 3},
    {"pixel pairs", 1, 0x71, 32, 63, 3},
    {"type 3 segments", 3, 0x31, 32, 64, 4},
    {"planar run-length", 1, 0x11, 24, 64, 3},
    {"planar run-length bytes", 1, 0x00, 24, 37, 3},
    {"planar values", 1, 0x19, 32, 64, 3},
    {"planar pairs", 1, 0x99, 24, 33, 3},
    {"planar blocks", 1, 0x51, 32, 64, 3},
    {"type 3 planar block pairs", 3, 0xD9, 32, 64, 3},
    {"8-bit run-length", 1, 0x11, 8, 64, 1},
    {"8-bit bytes", 3, 0x01, 8, 100, 1},
    {"8-bit values", 1, 0x19, 8, 170, 1},
    {"copy 3 of 4", 0, 0x01, 32, 64, 3},
    {"row copy", 2, 0x00, 24, 64, 3},
};

}  // namespace

// The encoder feeding the real decoder, for every path, on a real desktop and a photo,
// over the whole picture and over a region that starts inside it.
TEST(RoundTrip, EveryPathDecodesToTheRegion) {
    for (const char* file : {"desktop_crop.ppm", "photo_crop.ppm"}) {
        const Picture pic = ReadPpm(file);
        ASSERT_GT(pic.width, 64) << file;
        for (const Case& c : kCases) {
            const std::vector<uint8_t> image =
                PictureImage(pic, c.bitsPerPixel, (c.flags & FLAG_TOP_DOWN) != 0);
            for (bool whole : {true, false}) {
                SCOPED_TRACE(std::string(file) + ", " + c.name + (whole ? "" : ", region"));
                FrameCodecParams p = SenderParams(pic.width, pic.height);
                p.type = c.type;
                p.flags = c.flags;
                p.bitsPerPixel = c.bitsPerPixel;
                p.segmentPixels = c.segmentPixels;
                if (!whole) {
                    p.x = 5;
                    p.y = 3;
                    p.width = 150;
                    p.height = 40;
                }
                Encoded e = EncodeExact(p, image.data());
                ASSERT_TRUE(e.ok);
                DecodedRegion decoded;
                DecodeOptions options;
                options.bitsPerPixel = c.bitsPerPixel;
                options.segmentPixels = c.segmentPixels;
                ASSERT_EQ(DecodeFrame(e.bytes.data(), e.bytes.size(), options, &decoded),
                          DECODE_OK);
                ASSERT_EQ(decoded.bytesPerPixel, c.type == 2 ? c.bitsPerPixel / 8 : c.channels);
                EXPECT_TRUE(decoded.pixels ==
                            Region(pic, c.bitsPerPixel, p, decoded.bytesPerPixel));
            }
        }
    }
}

TEST(RoundTrip, BlankRegion) {
    for (uint8_t flags : {0x31, 0x21}) {
        FrameCodecParams p = SenderParams(77, 5);
        p.flags = flags;
        p.segmentPixels = 21;
        Encoded e = EncodeExact(p, nullptr);
        ASSERT_TRUE(e.ok);
        DecodedRegion decoded;
        DecodeOptions options;
        options.segmentPixels = 21;
        options.blankRegion = true;
        ASSERT_EQ(DecodeFrame(e.bytes.data(), e.bytes.size(), options, &decoded), DECODE_OK)
            << int{flags};
        EXPECT_EQ(decoded.pixels, std::vector<uint8_t>(77 * 5 * 3, 255));
    }
}
