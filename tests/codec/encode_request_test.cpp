#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "codec_test_util.h"

namespace {

// Expects EncodeFrame to reject the request without writing anything, and
// MaxEncodedLength to report 0 for it.
void ExpectRejected(FrameCodecParams p, const uint8_t* source, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(MaxEncodedLength(p, source != nullptr), 0u);
    std::vector<uint8_t> out(4096, 0xCC);
    p.payloadSize = 0x5555;
    int length = -7;
    EXPECT_FALSE(EncodeFrame(&p, source, out.data(), &length));
    EXPECT_EQ(length, -7);
    EXPECT_EQ(p.payloadSize, 0x5555);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0xCC), 4096);
}

void ExpectAccepted(FrameCodecParams p, const uint8_t* source, const char* what) {
    SCOPED_TRACE(what);
    Encoded e = EncodeExact(p, source);
    EXPECT_TRUE(e.ok);
}

const std::vector<uint8_t> kImage(64 * 64 * 4, 100);  // room for every request below

}  // namespace

TEST(EncodeRequest, RejectionsOfTheFormat) {
    const uint8_t* src = kImage.data();
    FrameCodecParams p = SenderParams(8, 8);
    p.type = 5;
    ExpectRejected(p, src, "type above 4");
    p = SenderParams(8, 8);
    p.type = 0;
    p.bitsPerPixel = 8;
    ExpectRejected(p, src, "type 0 with 8 bits per pixel");
}

TEST(EncodeRequest, NullArgumentsAndEmptyImages) {
    const uint8_t* src = kImage.data();
    FrameCodecParams p = SenderParams(8, 8);
    int length = 0;
    uint8_t out[64];
    EXPECT_FALSE(EncodeFrame(&p, src, nullptr, &length));
    EXPECT_FALSE(EncodeFrame(&p, nullptr, nullptr, &length));  // blank, no output
    EXPECT_FALSE(EncodeFrame(&p, src, out, nullptr));
    EXPECT_FALSE(EncodeFrame(nullptr, src, out, &length));

    p.bitsPerPixel = 8;
    ExpectRejected(p, nullptr, "8-bit coder without source");
    for (uint8_t type : {0, 2}) {
        p = SenderParams(8, 8);
        p.type = type;
        p.bitsPerPixel = 32;
        ExpectRejected(p, nullptr, "copy without source");
        p.width = 0;
        ExpectRejected(p, src, "copy of width 0");
        p.width = 8;
        p.height = 0;
        ExpectRejected(p, src, "copy of height 0");
    }
    for (bool withSource : {true, false}) {
        p = SenderParams(0, 0);
        p.imageWidth = 0;
        p.imageHeight = 5;
        ExpectRejected(p, withSource ? src : nullptr, "image width 0");
        p.imageWidth = 5;
        p.imageHeight = -1;
        ExpectRejected(p, withSource ? src : nullptr, "image height -1");
    }
    p = SenderParams(0, 3);
    p.imageWidth = 4;
    ExpectAccepted(p, src, "a coded region of width 0");
}

TEST(EncodeRequest, HeaderSizeBelowTwenty) {
    FrameCodecParams p = SenderParams(8, 8);
    p.headerSize = 19;
    ExpectRejected(p, kImage.data(), "header size 19");
    p.type = 2;
    p.headerSize = 0;
    ExpectRejected(p, kImage.data(), "header size 0");
}

TEST(EncodeRequest, RegionOutsideTheImage) {
    const uint8_t* src = kImage.data();
    struct Path {
        const char* name;
        uint8_t type, flags;
        int bitsPerPixel;
    };
    const Path paths[] = {{"segments", 1, 0x31, 24},
                          {"planar", 1, 0x11, 24},
                          {"8-bit", 1, 0x11, 8},
                          {"copy3", 0, 0x01, 32},
                          {"rows", 2, 0x01, 24}};
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        FrameCodecParams p = SenderParams(8, 8);
        p.type = path.type;
        p.flags = path.flags;
        p.bitsPerPixel = path.bitsPerPixel;
        p.imageWidth = 10;
        p.imageHeight = 10;
        p.x = 2;
        p.y = 2;
        ExpectAccepted(p, src, "inside");
        p.x = 3;
        ExpectRejected(p, src, "x + width above image width");
        p.x = 2;
        p.y = 3;
        ExpectRejected(p, src, "y + height above image height");
        p.flags &= ~FLAG_TOP_DOWN;
        ExpectRejected(p, src, "bottom-up, y + height above image height");
    }
    // The blank-region coder reads nothing: its region is not checked.
    FrameCodecParams blank = SenderParams(100, 100);
    blank.imageWidth = 1;
    blank.imageHeight = 1;
    ExpectAccepted(blank, nullptr, "blank");
}

TEST(EncodeRequest, SegmentLengthsThatOverflowTheBuffers) {
    const uint8_t* src = kImage.data();
    FrameCodecParams p = SenderParams(32, 32);
    for (int sp : {0, -64}) {
        p.segmentPixels = sp;
        ExpectRejected(p, src, "segment coder, segment of 0 or fewer pixels");
        ExpectRejected(p, nullptr, "blank coder, segment of 0 or fewer pixels");
    }
    p.segmentPixels = 85;
    ExpectAccepted(p, src, "85 pixels of 3 channels");
    ExpectAccepted(p, nullptr, "blank, 85 pixels of 3 channels");
    p.segmentPixels = 86;
    ExpectRejected(p, src, "86 pixels of 3 channels");
    ExpectRejected(p, nullptr, "blank, 86 pixels of 3 channels");
    p.type = 3;
    p.bitsPerPixel = 32;
    p.segmentPixels = 64;
    ExpectAccepted(p, src, "64 pixels of 4 channels");
    p.segmentPixels = 65;
    ExpectRejected(p, src, "65 pixels of 4 channels");

    p = SenderParams(32, 32);
    p.flags = 0x11;
    p.segmentPixels = 64;
    ExpectAccepted(p, src, "planar, 64 pixels");
    p.segmentPixels = 65;
    ExpectRejected(p, src, "planar, 65 pixels");
    p.segmentPixels = 0;
    ExpectRejected(p, src, "planar, 0 pixels");

    // The 8-bit coder's buffer holds 256 values, and its 8-bit length field 255 bytes: at
    // 18 bits a value for run-length codes, 113 values; at 12 bits, 170.
    p = SenderParams(32, 32);
    p.bitsPerPixel = 8;
    p.flags = 0x11;
    p.segmentPixels = 113;
    ExpectAccepted(p, src, "8-bit run-length, 113");
    p.segmentPixels = 114;
    ExpectRejected(p, src, "8-bit run-length, 114");
    p.flags = 0x19;
    p.segmentPixels = 170;
    ExpectAccepted(p, src, "8-bit values, 170");
    p.segmentPixels = 171;
    ExpectRejected(p, src, "8-bit values, 171");
    p.segmentPixels = 257;
    ExpectRejected(p, src, "8-bit, 257");
    p.segmentPixels = 0;
    ExpectRejected(p, src, "8-bit, 0");
}

TEST(EncodeRequest, PixelDepths) {
    const uint8_t* src = kImage.data();
    for (int bpp : {16, 0, -24, 48}) {
        FrameCodecParams p = SenderParams(8, 8);
        p.bitsPerPixel = bpp;
        ExpectRejected(p, src, "segment coder");
        p.flags = 0x11;
        ExpectRejected(p, src, "planar coder");
        p.type = 2;
        if (bpp != 16)
            ExpectRejected(p, src, "row copy");
    }
    FrameCodecParams p = SenderParams(8, 8);
    p.type = 2;
    p.bitsPerPixel = 16;
    ExpectAccepted(p, src, "row copy of 16-bit pixels");
}

// Paths that read pixels 4 bytes apart are refused on images whose pixels are narrower
// when that would run past the image, and accepted when it does not.
TEST(EncodeRequest, PixelStepsBeyondTheImage) {
    const uint8_t* src = kImage.data();
    FrameCodecParams p = SenderParams(16, 4);
    p.type = 0;
    ExpectRejected(p, src, "copy3 of a whole 24-bit image");
    p.width = 12;
    ExpectAccepted(p, src, "copy3 of a 24-bit region that ends in time");
    p.width = 16;
    p.height = 3;
    ExpectAccepted(p, src, "copy3, top-down: the last row in memory is not read");
    p.flags = 0x30;
    ExpectRejected(p, src, "copy3, bottom-up: region row 0 is the last row in memory");

    p = SenderParams(16, 4);
    p.flags = 0x71;
    ExpectRejected(p, src, "pixel pairs, 24 bits");
    p.bitsPerPixel = 32;
    ExpectAccepted(p, src, "pixel pairs, 32 bits");
    p = SenderParams(16, 4);
    p.type = 3;
    ExpectRejected(p, src, "type 3, 24 bits");
    p.height = 3;
    ExpectAccepted(p, src, "type 3, 24 bits, rows to spare");

    // Block segments read 64 pixels whatever the segment length.
    p = SenderParams(64, 4);
    p.flags = 0x51;
    p.bitsPerPixel = 32;
    ExpectAccepted(p, src, "block, 64-pixel segments");
    p.segmentPixels = 32;
    ExpectRejected(p, src, "block, 32-pixel segments read past the last row");
    p.flags = 0x50;
    p.y = 1;
    p.height = 3;
    ExpectAccepted(p, src, "block, bottom-up, the last row in memory is not coded");
    p = SenderParams(64, 4);
    p.flags = 0x41;
    p.bitsPerPixel = 32;
    ExpectRejected(p, src, "block with the byte writer");
}

TEST(EncodeRequest, PayloadBeyondTheHeadersField) {
    FrameCodecParams p = SenderParams(65535, 65535);
    p.type = 2;
    p.bitsPerPixel = 32;
    // Rejected before anything is read, so any non-null source will do.
    ExpectRejected(p, kImage.data(), "a 16 GiB row copy");
    p.width = 8192;
    p.height = 8192;
    p.imageWidth = 8192;
    p.imageHeight = 8192;
    ExpectRejected(p, kImage.data(), "256 MiB, just above the field");
    p = SenderParams(65535, 65535);
    ExpectRejected(p, kImage.data(), "segment coder");
    ExpectRejected(p, nullptr, "blank");
}

TEST(MaxEncodedLength, SenderSlice) {
    // 335 segments of at most 194 bytes, then a coded attempt of 2 + 288.
    EXPECT_EQ(MaxEncodedLength(SenderParams(1024, 21)), 20u + 335 * 194 + 290);
}

// Real worst cases in buffers of exactly MaxEncodedLength bytes (AddressSanitizer checks
// every write), for every coding path.
TEST(MaxEncodedLength, WorstCaseInputsFit) {
    const int width = 67, height = 9;  // segments run across rows, partial last ones
    std::vector<std::function<uint8_t(int)>> patterns = {
        [](int) { return uint8_t{0}; },
        [](int i) { return static_cast<uint8_t>(i % 2 ? 255 : 0); },
        [](int i) { return static_cast<uint8_t>(i % 2 ? 100 : 0); },
        [](int i) { return static_cast<uint8_t>(i % 2 ? 200 : 0); },
        [](int i) { return static_cast<uint8_t>(i / 3 % 2 ? 200 : 0); },
        [](int i) { return static_cast<uint8_t>(i / 4 % 2 ? 100 : 0); },
    };
    std::mt19937 rng(9);
    patterns.push_back([&rng](int) { return static_cast<uint8_t>(rng()); });
    struct Config {
        uint8_t type, flags;
        int bpp;
        std::vector<int> segmentPixels;
    };
    const Config configs[] = {
        {1, 0x31, 24, {1, 2, 21, 64, 85}},
        {1, 0x21, 32, {63, 64}},
        {1, 0x71, 32, {63, 64}},
        {3, 0x31, 32, {1, 63, 64}},
        {1, 0x11, 24, {1, 33, 64}},
        {1, 0x01, 32, {7, 64}},
        {1, 0x19, 24, {64}},
        {1, 0x99, 32, {33, 64}},
        {3, 0xD9, 32, {64}},
        {1, 0x51, 32, {64}},
        {1, 0x11, 8, {1, 64, 113}},
        {1, 0x19, 8, {170}},
        {1, 0x01, 8, {100}},
        {0, 0x01, 32, {64}},
        {2, 0x00, 24, {64}},
    };
    for (const Config& c : configs) {
        for (int sp : c.segmentPixels) {
            for (size_t k = 0; k < patterns.size(); ++k) {
                const int bytes = c.bpp / 8;
                const size_t stride = (width * bytes + 3) / 4 * 4;
                std::vector<uint8_t> image(stride * height);
                for (size_t i = 0; i < image.size(); ++i)
                    image[i] = patterns[k](static_cast<int>(i));
                FrameCodecParams p = SenderParams(width, height);
                p.type = c.type;
                p.flags = c.flags;
                p.bitsPerPixel = c.bpp;
                p.segmentPixels = sp;
                Encoded e = EncodeExact(p, image.data());
                ASSERT_TRUE(e.ok) << int{c.type} << " " << int{c.flags} << " sp " << sp;
                EXPECT_LE(static_cast<size_t>(e.length), MaxEncodedLength(p));
            }
        }
    }
}
