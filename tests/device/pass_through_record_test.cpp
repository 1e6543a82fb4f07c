#include "device/pass_through_record.h"

#include <cstring>
#include <vector>

#include "device/scsi_commands.h"
#include "tests/device/device_test_support.h"

namespace {

template <typename Record>
std::vector<uint8_t> RecordBytes(const Record& record) {
    std::vector<uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

// The requests the four commands hand to the backend.
class PassThroughRecordTest : public DeviceTest {
  protected:
    ScsiRequest Write() {
        static uint8_t data[64616];
        scsi_cmd_write_driverless(nullptr, data, sizeof data, 0x8000FC00);
        return fake.commands.back().request;
    }
    ScsiRequest Control() {
        scsi_cmd_control_driverless(nullptr, CTRL_FRAME_DONE);
        return fake.commands.back().request;
    }
    ScsiRequest LinkSpeed() {
        scsi_cmd_read_link_speed();
        return fake.commands.back().request;
    }
    ScsiRequest VendorRead() {
        static ReadRequest request{};
        scsi_cmd_read_driverless(&request, nullptr, 10);
        return fake.commands.back().request;
    }
};

TEST_F(PassThroughRecordTest, ThirtyTwoBitLayoutIsEightyBytesWithSenseAt48) {
    static_assert(sizeof(PassThroughDirect<uint32_t>) == 44);
    static_assert(sizeof(PassThroughRecord32) == 80);
    static_assert(offsetof(PassThroughDirect<uint32_t>, DataBuffer) == 20);
    static_assert(offsetof(PassThroughDirect<uint32_t>, SenseInfoOffset) == 24);
    static_assert(offsetof(PassThroughDirect<uint32_t>, Cdb) == 28);
    static_assert(offsetof(PassThroughRecord32, sense) == 48);

    // The frame-done command, byte for byte: no data, so no buffer address either.
    std::vector<uint8_t> expected = Bytes(
        "2C 00 00 00 01 00 10 20 00 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 30 00 00 00 "
        "FE 00 00 00 C0 D1 05 00 40 00 01 00 00 00 00 00");
    expected.resize(80, 0);
    EXPECT_EQ(RecordBytes(BuildPassThroughRecord<uint32_t>(Control())), expected);
}

TEST_F(PassThroughRecordTest, ThirtyTwoBitFieldsOfEachCommand) {
    struct Case {
        ScsiRequest request;
        uint8_t targetId, senseLength, dataIn;
        uint32_t length, timeout;
    };
    const Case cases[] = {
        {Write(), 1, 32, 0, 64616, 2},
        {Control(), 1, 32, 0, 0, 2},
        {LinkSpeed(), 1, 32, 1, 4, 2},
        {VendorRead(), 3, 24, 1, 10, 10},
    };
    for (const Case& c : cases) {
        PassThroughRecord32 record = BuildPassThroughRecord<uint32_t>(c.request);
        EXPECT_EQ(record.sptd.Length, 44);
        EXPECT_EQ(record.sptd.ScsiStatus, 0);
        EXPECT_EQ(record.sptd.PathId, 0);
        EXPECT_EQ(record.sptd.TargetId, c.targetId);
        EXPECT_EQ(record.sptd.Lun, 0);
        EXPECT_EQ(record.sptd.CdbLength, 16);
        EXPECT_EQ(record.sptd.SenseInfoLength, c.senseLength);
        EXPECT_EQ(record.sptd.DataIn, c.dataIn);
        EXPECT_EQ(record.sptd.DataTransferLength, c.length);
        EXPECT_EQ(record.sptd.TimeOutValue, c.timeout);
        EXPECT_EQ(record.sptd.SenseInfoOffset, 48u);
        EXPECT_EQ(0, std::memcmp(record.sptd.Cdb, c.request.cdb, 16));
        EXPECT_EQ(record.filler, 0u);
        EXPECT_EQ(std::vector<uint8_t>(record.sense, record.sense + 32), std::vector<uint8_t>(32));
    }
}

TEST_F(PassThroughRecordTest, SixtyFourBitLayoutCarriesAnEightByteBuffer) {
    static_assert(sizeof(PassThroughDirect<uint64_t>) == 56);
    static_assert(offsetof(PassThroughDirect<uint64_t>, DataBuffer) == 24);
    static_assert(offsetof(PassThroughDirect<uint64_t>, SenseInfoOffset) == 32);
    static_assert(offsetof(PassThroughDirect<uint64_t>, Cdb) == 36);
    static_assert(offsetof(PassThroughRecord64, sense) == 60);
    static_assert(sizeof(PassThroughRecord64) == 96);

    ScsiRequest write = Write();
    PassThroughRecord64 record = BuildPassThroughRecord<uint64_t>(write);
    EXPECT_EQ(record.sptd.Length, 56);
    EXPECT_EQ(record.sptd.SenseInfoOffset, 60u);
    EXPECT_EQ(record.sptd.DataBuffer, reinterpret_cast<uintptr_t>(write.dataBuffer));
    EXPECT_EQ(record.sptd.DataTransferLength, 64616u);
    EXPECT_EQ(record.sptd.TargetId, 1);
    EXPECT_EQ(record.sptd.TimeOutValue, 2u);
    EXPECT_EQ(std::vector<uint8_t>(record.sptd.Cdb, record.sptd.Cdb + 16),
              Bytes("FF 00 00 00 00 FC 00 80 00 00 00 00 00 00 00 00"));
}

}  // namespace
