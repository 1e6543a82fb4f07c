#include "gadget/bulk_only.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace gadget {
namespace {

std::vector<uint8_t> Cbw(uint32_t length, uint8_t flags, uint8_t lun, uint8_t cdbLength) {
    std::vector<uint8_t> cbw(CBW_BYTES, 0);
    const uint8_t head[] = {'U', 'S', 'B', 'C', 0x78, 0x56, 0x34, 0x12};
    std::memcpy(cbw.data(), head, sizeof head);
    for (int i = 0; i < 4; ++i) {
        cbw[8 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    cbw[12] = flags;
    cbw[13] = lun;
    cbw[14] = cdbLength;
    cbw[15] = 0x12;
    return cbw;
}

TEST(CommandBlockTest, ReadsTagLengthDirectionLunAndCdb) {
    std::vector<uint8_t> bytes = Cbw(36, 0x80, 1, 6);
    CommandBlock block;
    ASSERT_TRUE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block));
    EXPECT_EQ(block.tag, 0x12345678u);
    EXPECT_EQ(block.dataLength, 36u);
    EXPECT_EQ(block.direction, Direction::In);
    EXPECT_EQ(block.lun, 1);
    EXPECT_EQ(block.cdbLength, 6);
    EXPECT_EQ(block.cdb[0], 0x12);

    bytes = Cbw(0, 0x80, 0, 6);  // no data: the direction bit means nothing
    ASSERT_TRUE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block));
    EXPECT_EQ(block.direction, Direction::None);
    bytes = Cbw(64616, 0x00, 0, 16);
    ASSERT_TRUE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block));
    EXPECT_EQ(block.direction, Direction::Out);
}

TEST(CommandBlockTest, RefusesWrappersThatAreNotValidOrNotMeaningful) {
    CommandBlock block;
    std::vector<uint8_t> bytes = Cbw(36, 0x80, 0, 6);
    EXPECT_FALSE(ParseCommandBlock(bytes.data(), 30, 1, &block)) << "short";
    bytes.push_back(0);
    EXPECT_FALSE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block)) << "long";
    bytes = Cbw(36, 0x80, 0, 6);
    bytes[3] = 'X';
    EXPECT_FALSE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block)) << "signature";
    bytes = Cbw(36, 0x81, 0, 6);
    EXPECT_FALSE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block)) << "reserved flag";
    bytes = Cbw(36, 0x80, 2, 6);
    EXPECT_FALSE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block)) << "LUN 2 of 0-1";
    for (uint8_t length : {0, 17, 0x26}) {
        bytes = Cbw(36, 0x80, 0, length);
        EXPECT_FALSE(ParseCommandBlock(bytes.data(), bytes.size(), 1, &block))
            << "CDB length " << int(length);
    }
}

TEST(CommandStatusTest, CarriesTheTagResidueAndStatus) {
    uint8_t csw[CSW_BYTES];
    BuildCommandStatus(0xA1B2C3D4, 0x102, CSW_FAILED, csw);
    const uint8_t expected[CSW_BYTES] = {'U',  'S',  'B',  'S', 0xD4, 0xC3,      0xB2,
                                         0xA1, 0x02, 0x01, 0,   0,    CSW_FAILED};
    EXPECT_EQ(std::memcmp(csw, expected, CSW_BYTES), 0);
}

// The class's thirteen cases of host (H) and device (D) expectations: none (n), in (i), out (o).
struct Case {
    const char* name;
    Direction host;
    uint32_t hostLength;
    Direction unit;
    uint32_t unitLength;
    DataPlan plan;  // transfer, execute, stallIn, phaseError, residue
};

const Case CASES[] = {
    {"1 Hn=Dn", Direction::None, 0, Direction::None, 0, {0, true, false, false, 0}},
    {"2 Hn<Di", Direction::None, 0, Direction::In, 8, {0, false, false, true, 0}},
    {"3 Hn<Do", Direction::None, 0, Direction::Out, 512, {0, false, false, true, 0}},
    {"4 Hi>Dn", Direction::In, 8, Direction::None, 0, {0, true, true, false, 8}},
    {"5 Hi>Di", Direction::In, 255, Direction::In, 36, {36, true, true, false, 219}},
    {"6 Hi=Di", Direction::In, 36, Direction::In, 36, {36, true, false, false, 0}},
    {"7 Hi<Di", Direction::In, 4, Direction::In, 36, {4, true, false, true, 0}},
    {"8 Hi<>Do", Direction::In, 512, Direction::Out, 512, {0, false, true, true, 0}},
    {"9 Ho>Dn", Direction::Out, 512, Direction::None, 0, {512, true, false, false, 512}},
    {"10 Ho<>Di", Direction::Out, 512, Direction::In, 8, {512, false, false, true, 0}},
    {"11 Ho>Do", Direction::Out, 1024, Direction::Out, 512, {1024, true, false, false, 512}},
    {"12 Ho=Do", Direction::Out, 64616, Direction::Out, 64616, {64616, true, false, false, 0}},
    {"13 Ho<Do", Direction::Out, 512, Direction::Out, 1024, {512, false, false, true, 0}},
};

TEST(DataPhaseTest, FollowsTheThirteenCases) {
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.name);
        DataPlan plan = PlanDataPhase(c.host, c.hostLength, c.unit, c.unitLength);
        EXPECT_EQ(plan.transfer, c.plan.transfer);
        EXPECT_EQ(plan.execute, c.plan.execute);
        EXPECT_EQ(plan.stallIn, c.plan.stallIn);
        EXPECT_EQ(plan.phaseError, c.plan.phaseError);
        EXPECT_EQ(plan.residue, c.plan.residue);
    }
}

}  // namespace
}  // namespace gadget
