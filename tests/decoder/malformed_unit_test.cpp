// Damaged units: every one gives an error result and nothing is read or written out of
// bounds (the sanitizer builds watch the second half).
#include <gtest/gtest.h>

#include <random>

#include "codec/frame_decoder.h"
#include "tests/decoder/unit_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kTwoPixelSlice = {0xFB, 0x14, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x02, 0x40,
                              0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x31, 0x00, 0x04, 0x61,
                              0x9F, 0xF0, 0x00, 0x06, 0x00, 0xD0, 0xF1, 0x13};

DecodeResult DecodeCopy(const Bytes& unit, DecodeOptions options = {}) {
    // A buffer of exactly the unit's size, so that any read past it is caught.
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[unit.size() + 1]);
    std::copy(unit.begin(), unit.end(), exact.get());
    DecodedRegion region;
    return DecodeFrame(exact.get(), unit.size(), options, &region);
}

void FixChecksum(Bytes* unit) {
    uint8_t sum = 0;
    for (int i = 0; i < 19; ++i)
        sum = static_cast<uint8_t>(sum + (*unit)[i]);
    (*unit)[19] = static_cast<uint8_t>(-sum);
}

TEST(DecodeMalformed, EveryTruncationIsAnError) {
    for (size_t length = 0; length < kTwoPixelSlice.size(); ++length) {
        const Bytes cut(kTwoPixelSlice.begin(), kTwoPixelSlice.begin() + length);
        EXPECT_EQ(DecodeCopy(cut), DECODE_TRUNCATED) << "length " << length;
    }
    EXPECT_EQ(DecodeCopy(kTwoPixelSlice), DECODE_OK);
}

TEST(DecodeMalformed, HeaderFaults) {
    Bytes unit = kTwoPixelSlice;
    unit[19] ^= 1;
    EXPECT_EQ(DecodeCopy(unit), DECODE_BAD_CHECKSUM);
    unit = kTwoPixelSlice;
    unit[0] = 0xFA;
    FixChecksum(&unit);
    EXPECT_EQ(DecodeCopy(unit), DECODE_BAD_MARKER);
    unit = kTwoPixelSlice;
    unit[1] = 19;
    FixChecksum(&unit);
    EXPECT_EQ(DecodeCopy(unit), DECODE_BAD_HEADER_SIZE);
    unit = kTwoPixelSlice;
    unit[1] = 40;  // header runs past the unit
    FixChecksum(&unit);
    EXPECT_EQ(DecodeCopy(unit), DECODE_TRUNCATED);
    unit = kTwoPixelSlice;
    unit[3] = 0x50;  // type 5
    FixChecksum(&unit);
    EXPECT_EQ(DecodeCopy(unit), DECODE_UNSUPPORTED);
}

TEST(DecodeMalformed, PayloadSizeThatDisagreesWithTheSegments) {
    for (uint8_t size : {7, 4, 0}) {
        Bytes unit = kTwoPixelSlice;
        unit[12] = size;
        FixChecksum(&unit);
        EXPECT_NE(DecodeCopy(unit), DECODE_OK) << "payload size " << int{size};
    }
    Bytes longer = kTwoPixelSlice;
    longer.insert(longer.end(), {0, 0, 0, 0});
    longer[12] = 12;
    FixChecksum(&longer);
    EXPECT_EQ(DecodeCopy(longer), DECODE_BAD_PAYLOAD_SIZE);
}

TEST(DecodeMalformed, LengthFieldFaults) {
    // The field is the stored word's fourth byte (stream byte 0) and third (stream byte 1).
    const std::pair<uint8_t, uint8_t> fields[] = {
        {0x00, 0x00},  // empty coded segment
        {0x05, 0x00},  // body shorter than its codes
        {0x07, 0x00},  // body longer than its codes
        {0xC1, 0x00},  // over the coded limit and past the payload
        {0x05, 0x80},  // raw, wrong count
        {0x06, 0x01},  // coded body of 262 bytes
    };
    for (const auto& [low, high] : fields) {
        Bytes unit = kTwoPixelSlice;
        unit[23] = low;
        unit[22] = high;
        EXPECT_EQ(DecodeCopy(unit), DECODE_BAD_SEGMENT) << int{low} << " " << int{high};
    }
}

TEST(DecodeMalformed, CodeThatIsNoCode) {
    // Category 8 with extra bits 01 is no value code.
    UnitFields fields;
    fields.width = 1;
    const Bytes stream = {0x02, 0x00, 0xFA, 0x00};  // 11111 01 0 ...
    EXPECT_EQ(DecodeCopy(MakeUnit(fields, 4, AsStoredWords(stream))), DECODE_BAD_CODE);
    // Run-length code of all ones (no symbol has it).
    fields.flags = 0x10;
    fields.width = 64;
    const Bytes runLength = {0x02, 0xFF, 0xFF};
    EXPECT_EQ(DecodeCopy(MakeUnit(fields, 3, AsStoredWords(runLength)), {8, 64, false}),
              DECODE_BAD_CODE);
}

TEST(DecodeMalformed, OptionsOutsideTheCoders) {
    for (const DecodeOptions& options :
         {DecodeOptions{24, 0, false}, DecodeOptions{24, 86, false}, DecodeOptions{8, 64, true},
          DecodeOptions{24, -5, false}}) {
        EXPECT_EQ(DecodeCopy(kTwoPixelSlice, options), DECODE_UNSUPPORTED);
    }
    UnitFields fields;
    fields.type = 2;
    fields.width = 1;
    EXPECT_EQ(DecodeCopy(MakeUnit(fields, 0, {}), {4, 64, false}), DECODE_UNSUPPORTED);
}

TEST(DecodeMalformed, RegionLargerThanTheDecoderTakes) {
    UnitFields fields;
    fields.type = 3;
    fields.width = 8191;
    fields.height = 8191;
    EXPECT_EQ(DecodeCopy(MakeUnit(fields, 0, {}), {32, 64, false}), DECODE_TOO_LARGE);
    // A large region that a tiny payload cannot hold is refused before any allocation.
    fields.height = 2000;
    EXPECT_EQ(DecodeCopy(MakeUnit(fields, 8, Bytes(8, 0)), {32, 64, false}),
              DECODE_BAD_PAYLOAD_SIZE);
}

// Random bytes behind a valid header, and random damage to a valid unit, in every path.
TEST(DecodeMalformed, GarbageNeverEscapes) {
    std::mt19937 random(7);
    const DecodeOptions optionsList[] = {{24, 64, false}, {32, 64, false}, {8, 64, false},
                                         {24, 5, false},  {8, 256, false}, {24, 64, true}};
    for (int round = 0; round < 4000; ++round) {
        UnitFields fields;
        fields.type = static_cast<uint8_t>(random() % 5);
        fields.width = static_cast<uint16_t>(1 + random() % 40);
        fields.height = static_cast<uint16_t>(1 + random() % 4);
        fields.flags = static_cast<uint8_t>(random());
        Bytes payload(random() % 300);
        for (auto& b : payload)
            b = static_cast<uint8_t>(random() % 3 ? random() : 0);
        const uint32_t size = static_cast<uint32_t>(random() % (payload.size() + 8));
        const Bytes unit = MakeUnit(fields, size, payload);
        for (const DecodeOptions& options : optionsList)
            DecodeCopy(unit, options);
    }
    for (int round = 0; round < 4000; ++round) {
        Bytes unit = kTwoPixelSlice;
        unit[20 + random() % 8] ^= static_cast<uint8_t>(1 + random() % 255);
        DecodeCopy(unit);
    }
}

}  // namespace
