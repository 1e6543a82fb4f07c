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
