#include "gadget/scsi_unit.h"

#include <gtest/gtest.h>

#include <string>

#include "gadget/fat_volume.h"

namespace gadget {
namespace {

class ScsiUnitTest : public ::testing::Test {
  protected:
    ScsiUnitTest() : m_volume(BuildFatVolume(2048, "TARQ K7Q0", 0x01020304)) {
        disk_.peripheralType = PERIPHERAL_DISK;
        disk_.vendor = "KVUSB";
        disk_.product = "TR40W17B6-2";
        disk_.revision = "1.00";
        disk_.serial = "7B6A17000001";
        disk_.medium = &m_volume;
        optical_ = disk_;
        optical_.peripheralType = PERIPHERAL_OPTICAL_MEMORY;
        optical_.product = "TR40W17B6-1";
        optical_.medium = nullptr;
    }
    UnitAnswer Run(StorageUnit* unit, std::initializer_list<uint8_t> bytes) {
        uint8_t cdb[16] = {};
        std::copy(bytes.begin(), bytes.end(), cdb);
        return RunStandardCommand(unit, cdb);
    }
    static std::string Text(const UnitAnswer& answer, size_t at, size_t length) {
        return std::string(answer.data.begin() + static_cast<long>(at),
                           answer.data.begin() + static_cast<long>(at + length));
    }
    void ExpectSense(const StorageUnit& unit, uint8_t key, uint8_t asc) {
        EXPECT_EQ(unit.sense.key, key);
        EXPECT_EQ(unit.sense.asc, asc);
    }

    std::vector<uint8_t> m_volume;
    StorageUnit disk_;
    StorageUnit optical_;
};

TEST_F(ScsiUnitTest, InquiryGivesTypeRemovableAndPaddedIdentity) {
    UnitAnswer answer = Run(&optical_, {0x12, 0, 0, 0, 36, 0});
    ASSERT_TRUE(answer.passed);
    ASSERT_EQ(answer.data.size(), 36u);
    EXPECT_EQ(answer.data[0], 0x07);
    EXPECT_EQ(answer.data[1], 0x80);
    EXPECT_EQ(answer.data[4], 31);
    EXPECT_EQ(Text(answer, 8, 28), "KVUSB   TR40W17B6-1     1.00");
    // Cut to the allocation length.
    EXPECT_EQ(Run(&disk_, {0x12, 0, 0, 0, 5, 0}).data.size(), 5u);
    EXPECT_EQ(Run(&disk_, {0x12, 0, 0, 0, 36, 0}).data[0], 0x00);
}

TEST_F(ScsiUnitTest, InquiryAnswersTheVitalProductDataPagesItLists) {
    UnitAnswer pages = Run(&disk_, {0x12, 1, 0x00, 0, 255, 0});
    ASSERT_TRUE(pages.passed);
    EXPECT_EQ(pages.data, (std::vector<uint8_t>{0, 0x00, 0, 3, 0x00, 0x80, 0x83}));
    UnitAnswer serial = Run(&disk_, {0x12, 1, 0x80, 0, 255, 0});
    EXPECT_EQ(serial.data[3], 12);
    EXPECT_EQ(Text(serial, 4, 12), "7B6A17000001");
    UnitAnswer id = Run(&disk_, {0x12, 1, 0x83, 0, 255, 0});
    ASSERT_EQ(id.data.size(), 4u + 4 + 8 + 16 + 12);
    EXPECT_EQ(id.data[4] & 0x0F, 2) << "ASCII";
    EXPECT_EQ(id.data[5] & 0x0F, 1) << "T10 vendor identification";
    EXPECT_EQ(Text(id, 8, 8), "KVUSB   ");
    // A header alone when the host asks for 4 bytes first, as Linux does.
    EXPECT_EQ(Run(&disk_, {0x12, 1, 0x83, 0, 4, 0}).data.size(), 4u);

    EXPECT_FALSE(Run(&disk_, {0x12, 1, 0xB0, 0, 255, 0}).passed);
    ExpectSense(disk_, SENSE_ILLEGAL_REQUEST, 0x24);
    EXPECT_FALSE(Run(&disk_, {0x12, 0, 0x80, 0, 255, 0}).passed) << "a page without EVPD";
}

TEST_F(ScsiUnitTest, TheOpticalUnitHasNoMediumAndTheDiskIsReadOnly) {
    EXPECT_FALSE(Run(&optical_, {0x00}).passed);
    ExpectSense(optical_, SENSE_NOT_READY, 0x3A);
    // REQUEST SENSE reports it once, then no sense.
    UnitAnswer sense = Run(&optical_, {0x03, 0, 0, 0, 96, 0});
    ASSERT_EQ(sense.data.size(), 18u);
    EXPECT_EQ(sense.data[0], 0x70);
    EXPECT_EQ(sense.data[2], SENSE_NOT_READY);
    EXPECT_EQ(sense.data[12], 0x3A);
    EXPECT_EQ(Run(&optical_, {0x03, 0, 0, 0, 96, 0}).data[2], SENSE_NO_SENSE);
    EXPECT_FALSE(Run(&optical_, {0x00}).passed);
    EXPECT_EQ(Run(&optical_, {0x03, 1, 0, 0, 96, 0}).data,
              (std::vector<uint8_t>{0x72, SENSE_NOT_READY, 0x3A, 0, 0, 0, 0, 0}))
        << "descriptor format, when asked for";
    EXPECT_FALSE(Run(&optical_, {0x25}).passed);
    EXPECT_FALSE(Run(&optical_, {0x28, 0, 0, 0, 0, 0, 0, 0, 1}).passed);

    EXPECT_TRUE(Run(&disk_, {0x00}).passed);
    EXPECT_FALSE(Run(&disk_, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1}).passed);
    ExpectSense(disk_, SENSE_DATA_PROTECT, 0x27);
    uint8_t write10[16] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 2};
    EXPECT_EQ(DataOutLength(write10), 1024u) << "what the host sends is still taken";
    UnitAnswer mode = Run(&disk_, {0x1A, 0, 0x3F, 0, 192, 0});
    ASSERT_TRUE(mode.passed);
    EXPECT_EQ(mode.data[0] + 1u, mode.data.size());
    EXPECT_EQ(mode.data[2], 0x80) << "write protected";
    EXPECT_EQ(mode.data[4], 0x08) << "the caching page";
    EXPECT_EQ(Run(&optical_, {0x5A, 0, 0x08, 0, 0, 0, 0, 0, 255, 0}).data[3], 0x00);
    EXPECT_FALSE(Run(&disk_, {0x1A, 0, 0xC8, 0, 192, 0}).passed) << "saved values";
    ExpectSense(disk_, SENSE_ILLEGAL_REQUEST, 0x39);
}

TEST_F(ScsiUnitTest, CapacityAndReadsServeTheVolume) {
    UnitAnswer capacity = Run(&disk_, {0x25});
    EXPECT_EQ(capacity.data, (std::vector<uint8_t>{0, 0, 0x07, 0xFF, 0, 0, 0x02, 0}));
    UnitAnswer capacity16 = Run(&disk_, {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32});
    ASSERT_EQ(capacity16.data.size(), 32u);
    EXPECT_EQ(capacity16.data[6], 0x07);
    EXPECT_EQ(capacity16.data[7], 0xFF);

    UnitAnswer boot = Run(&disk_, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0});
    ASSERT_EQ(boot.data.size(), 512u);
    EXPECT_EQ(boot.data[510], 0x55);
    EXPECT_EQ(Run(&disk_, {0x08, 0, 0, 1, 2, 0}).data.size(), 1024u) << "READ(6)";
    EXPECT_TRUE(Run(&disk_, {0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 1, 0}).passed) << "the last block";
    EXPECT_FALSE(Run(&disk_, {0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}).passed);
    ExpectSense(disk_, SENSE_ILLEGAL_REQUEST, 0x21);
}

TEST_F(ScsiUnitTest, UnknownCommandsAndOpticalQueriesOnTheDiskFail) {
    EXPECT_FALSE(Run(&disk_, {0xC5}).passed);
    ExpectSense(disk_, SENSE_ILLEGAL_REQUEST, 0x20);
    EXPECT_FALSE(Run(&disk_, {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}).passed);
    EXPECT_TRUE(Run(&optical_, {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}).passed);
    UnitAnswer events = Run(&optical_, {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0});
    ASSERT_TRUE(events.passed);
    EXPECT_EQ(events.data[2], 4) << "the media class";
    EXPECT_FALSE(Run(&optical_, {0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8, 0}).passed) << "not polled";
}

// What a host's own utilities ask beyond what its storage stack does.
TEST_F(ScsiUnitTest, LunsSelfTestAndVerifyAnswerAsTheStandardsAsk) {
    disk_.targetLuns = 2;
    UnitAnswer luns = Run(&disk_, {0xA0, 0, 0x00, 0, 0, 0, 0, 0, 0, 255, 0, 0});
    ASSERT_TRUE(luns.passed);
    EXPECT_EQ(luns.data, (std::vector<uint8_t>{0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0,  0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Run(&disk_, {0xA0, 0, 0x01, 0, 0, 0, 0, 0, 0, 255, 0, 0}).data,
              (std::vector<uint8_t>(8, 0)))
        << "no well-known LUNs";
    EXPECT_EQ(Run(&disk_, {0xA0, 0, 0x00, 0, 0, 0, 0, 0, 0, 16, 0, 0}).data.size(), 16u);
    EXPECT_FALSE(Run(&disk_, {0xA0, 0, 0x00, 0, 0, 0, 0, 0, 0, 15, 0, 0}).passed);
    ExpectSense(disk_, SENSE_ILLEGAL_REQUEST, 0x24);
    EXPECT_FALSE(Run(&disk_, {0xA0, 0, 0x03, 0, 0, 0, 0, 0, 0, 255, 0, 0}).passed);

    EXPECT_TRUE(Run(&optical_, {0x1D, 0x04, 0, 0, 0, 0}).passed) << "the self-test";
    EXPECT_FALSE(Run(&optical_, {0x1D, 0x10, 0, 0, 8, 0}).passed) << "a diagnostic page";
    ExpectSense(optical_, SENSE_ILLEGAL_REQUEST, 0x24);
    uint8_t diagnostic[16] = {0x1D, 0x10, 0, 0, 8};
    EXPECT_EQ(DataOutLength(diagnostic), 8u) << "its page is still taken";

    EXPECT_FALSE(Run(&optical_, {0x2F, 0, 0, 0, 0, 0, 0, 0, 1, 0}).passed);
    ExpectSense(optical_, SENSE_NOT_READY, 0x3A);
    EXPECT_TRUE(Run(&disk_, {0x2F, 0, 0, 0, 0x07, 0xFF, 0, 0, 1, 0}).passed);
    EXPECT_FALSE(Run(&disk_, {0x2F, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}).passed);
    ExpectSense(disk_, SENSE_ILLEGAL_REQUEST, 0x21);
    EXPECT_FALSE(Run(&disk_, {0x2F, 0x02, 0, 0, 0, 0, 0, 0, 2, 0}).passed) << "a byte check";
    uint8_t byteCheck[16] = {0x2F, 0x02, 0, 0, 0, 0, 0, 0, 2, 0};
    EXPECT_EQ(DataOutLength(byteCheck), 1024u);
}

TEST(FatVolumeTest, IsAFat12SuperfloppyLabelledTwice) {
    std::vector<uint8_t> volume = BuildFatVolume(2048, "TARQ K7Q0", 0x01020304);
    ASSERT_EQ(volume.size(), 2048u * 512);
    auto u16 = [&](size_t at) { return volume[at] | volume[at + 1] << 8; };
    EXPECT_EQ(u16(11), 512);
    EXPECT_EQ(u16(19), 2048);
    EXPECT_EQ(std::string(volume.begin() + 43, volume.begin() + 54), "TARQ K7Q0  ");
    EXPECT_EQ(std::string(volume.begin() + 54, volume.begin() + 62), "FAT12   ");
    EXPECT_EQ(volume[510], 0x55);
    EXPECT_EQ(volume[511], 0xAA);
    EXPECT_EQ(volume[446], 0) << "no partition table";
    // Clusters below FAT12's limit, counted as a reader counts them.
    int fatSectors = u16(22);
    int rootSectors = u16(17) * 32 / 512;
    int firstData = u16(14) + volume[16] * fatSectors + rootSectors;
    int clusters = (2048 - firstData) / volume[13];
    EXPECT_LT(clusters, 4085);
    EXPECT_GE(fatSectors * 512 * 2 / 3, clusters + 2) << "the FAT holds every cluster";
    size_t root = static_cast<size_t>(u16(14) + volume[16] * fatSectors) * 512;
    EXPECT_EQ(std::string(volume.begin() + static_cast<long>(root),
                          volume.begin() + static_cast<long>(root) + 11),
              "TARQ K7Q0  ");
    EXPECT_EQ(volume[root + 11], 0x08) << "the volume label entry";
    EXPECT_EQ(volume[u16(14) * 512], 0xF8) << "the media byte starts the FAT";
}

}  // namespace
}  // namespace gadget
