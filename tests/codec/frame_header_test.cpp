#include <gtest/gtest.h>

#include "codec_test_util.h"

TEST(FrameHeader, SenderHeaderWithPayload0x1234) {
    FrameCodecParams p = SenderParams(1024, 21);
    p.payloadSize = 0x1234;
    uint8_t out[20];
    EXPECT_EQ(WriteFrameHeader(&p, out), 20);
    EXPECT_EQ(Hex(out, 20), "FB 14 00 10 00 00 00 00 00 44 15 00 34 12 00 00 31 00 04 0D");
}

TEST(FrameHeader, FieldsKeepOnlyTheirBits) {
    FrameCodecParams p{};
    p.headerSize = 20;
    p.type = 3;
    p.tag = 0x1ABC;
    p.x = 0x2001;
    p.xAttr = 0xFF;
    p.y = 0xFFFF;
    p.yAttr = 0x09;
    p.width = 0x1FFF;
    p.height = 0x2000;
    p.heightAttr = 0x0A;
    p.payloadSize = 0x7FFFFFFF;
    p.payloadAttr = 0x1F;
    p.hdrByte17 = 0x17;
    p.hdrByte18 = 0x18;
    p.spare = 0x55;
    uint8_t out[20];
    WriteFrameHeader(&p, out);
    EXPECT_EQ(Hex(out, 19), "FB 14 BC 3A 01 E0 FF 3F FF 1F 00 40 FF FF FF FF 00 17 18");
    unsigned sum = 0;
    for (uint8_t b : out)
        sum += b;
    EXPECT_EQ(sum % 256, 0u);
}

TEST(FrameHeader, ExtraHeaderBytesFollowAndPayloadMovesBehindThem) {
    FrameCodecParams p = SenderParams(2, 1);
    p.headerSize = 24;
    const uint8_t extra[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    std::copy(extra, extra + 4, p.extraHeader);
    const uint8_t image[6] = {10, 20, 30, 10, 20, 30};
    Encoded e = EncodeExact(p, image);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.bytes[1], 24);
    EXPECT_EQ(Hex(e.bytes, 20, 4), "A1 A2 A3 A4");
    EXPECT_EQ(Hex(e.bytes, 24), "9F F0 00 06 00 D0 F1 13");
    EXPECT_EQ(e.length, 32);
}

TEST(FrameHeader, BelowTwentyBytesWritesNothing) {
    FrameCodecParams p = SenderParams(2, 1);
    p.headerSize = 19;
    uint8_t out[20] = {};
    EXPECT_EQ(WriteFrameHeader(&p, out), 0);
    EXPECT_EQ(out[0], 0);
}

// The encoder packs and the decoder unpacks the same record: every field, at the edges of
// its width and with neighbouring fields set to other patterns, comes back as it went in.
TEST(FrameHeader, EveryFieldComesBackFromItsBytes) {
    const FrameHeader cases[] = {
        {20, 0xF, 0xFFF, 0x1FFF, 0, 0, 7, 0x1555, 2, 0x0AAA, 5, 0x0FFFFFFF, 0, 0xFF, 0, 0xFF},
        {255, 0, 0, 0, 7, 0x1FFF, 0, 0x0AAA, 5, 0x1555, 2, 0, 0xF, 0, 0xFF, 0},
        {20, 1, 0, 0, 0, 0, 0, 1024, 2, 21, 0, 0x1234, 0, 0x31, 0, 4},
    };
    for (const FrameHeader& h : cases) {
        uint8_t bytes[kFrameHeaderBytes];
        PackFrameHeader(h, bytes);
        EXPECT_EQ(bytes[0], kFrameMarker);
        EXPECT_EQ(FrameHeaderChecksum(bytes), bytes[19]);
        const FrameHeader back = UnpackFrameHeader(bytes);
        EXPECT_EQ(back.headerSize, h.headerSize);
        EXPECT_EQ(back.type, h.type);
        EXPECT_EQ(back.tag, h.tag);
        EXPECT_EQ(back.x, h.x);
        EXPECT_EQ(back.xAttr, h.xAttr);
        EXPECT_EQ(back.y, h.y);
        EXPECT_EQ(back.yAttr, h.yAttr);
        EXPECT_EQ(back.width, h.width);
        EXPECT_EQ(back.widthAttr, h.widthAttr);
        EXPECT_EQ(back.height, h.height);
        EXPECT_EQ(back.heightAttr, h.heightAttr);
        EXPECT_EQ(back.payloadSize, h.payloadSize);
        EXPECT_EQ(back.payloadAttr, h.payloadAttr);
        EXPECT_EQ(back.flags, h.flags);
        EXPECT_EQ(back.hdrByte17, h.hdrByte17);
        EXPECT_EQ(back.hdrByte18, h.hdrByte18);
    }
}
