#include "device/scsi_commands.h"

#include <vector>

#include "device/device_discovery.h"
#include "tests/device/device_test_support.h"

namespace {

class ScsiCommandsTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        g_hDisk1 = FakeDeviceBackend::HandleOf(1);
        g_hDisk2 = FakeDeviceBackend::HandleOf(2);
    }
};

TEST_F(ScsiCommandsTest, WriteCarriesTheAddressAndTheCallersBuffer) {
    std::vector<uint8_t> buffer(64616, 0x5A);
    EXPECT_EQ(scsi_cmd_write_driverless(g_hDisk1, buffer.data(), 64616, 0x8000FC00), 0);

    ASSERT_EQ(fake.commands.size(), 1u);
    const RecordedCommand& write = fake.commands[0];
    EXPECT_EQ(write.unit, g_hDisk1);
    EXPECT_EQ(CdbOf(write), Bytes("FF 00 00 00 00 FC 00 80 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(write.request.dataIn, SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(write.request.dataTransferLength, 64616u);
    EXPECT_EQ(write.request.dataBuffer, buffer.data());
    EXPECT_EQ(write.request.targetId, 1);
    EXPECT_EQ(write.request.senseInfoLength, 32);
    EXPECT_EQ(write.request.timeOutValue, 2u);
    EXPECT_EQ(write.dataOut, buffer);
}

TEST_F(ScsiCommandsTest, ControlCommandsCarryTheirCodeAndNoData) {
    EXPECT_EQ(scsi_cmd_control_driverless(g_hDisk1, CTRL_OPEN), 0);
    EXPECT_EQ(scsi_cmd_control_driverless(g_hDisk1, CTRL_FRAME_DONE), 0);
    EXPECT_EQ(scsi_cmd_control_driverless(g_hDisk1, 0x1234), 0);

    ASSERT_EQ(fake.commands.size(), 3u);
    EXPECT_EQ(CdbOf(fake.commands[0]), Bytes("FE 00 00 00 C0 D1 01 00 40 00 01 00 00 00 00 00"));
    EXPECT_EQ(CdbOf(fake.commands[1]), Bytes("FE 00 00 00 C0 D1 05 00 40 00 01 00 00 00 00 00"));
    EXPECT_EQ(CdbOf(fake.commands[2]), Bytes("FE 00 00 00 C0 D1 34 12 40 00 01 00 00 00 00 00"));
    for (const RecordedCommand& control : fake.commands) {
        EXPECT_EQ(control.unit, g_hDisk1);
        EXPECT_EQ(control.request.dataTransferLength, 0u);
        EXPECT_EQ(control.request.dataBuffer, nullptr);
        EXPECT_EQ(control.request.dataIn, SCSI_IOCTL_DATA_OUT);
        EXPECT_EQ(control.request.targetId, 1);
        EXPECT_EQ(control.request.timeOutValue, 2u);
    }
}

TEST_F(ScsiCommandsTest, LinkSpeedReplyIsReadMostSignificantByteFirst) {
    fake.replies[g_hDisk2] = Bytes("00 00 00 01");
    EXPECT_EQ(scsi_cmd_read_link_speed(), 0);
    EXPECT_EQ(g_USB3_0, 1u);

    fake.replies[g_hDisk2] = Bytes("01 00 00 00");
    EXPECT_EQ(scsi_cmd_read_link_speed(), 0);
    EXPECT_EQ(g_USB3_0, 0x01000000u);
    EXPECT_EQ(g_USB3_0 & LINK_SPEED_MASK, LINK_NONE);

    const RecordedCommand& query = fake.commands[0];
    EXPECT_EQ(query.unit, g_hDisk2);
    EXPECT_EQ(CdbOf(query), Bytes("FD 00 00 00 C0 A5 00 00 00 A0 04 00 00 00 00 00"));
    EXPECT_EQ(query.request.dataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(query.request.dataTransferLength, 4u);
    EXPECT_EQ(query.request.targetId, 1);
    EXPECT_EQ(query.request.senseInfoLength, 32);
    EXPECT_EQ(query.request.timeOutValue, 2u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(query.request.dataBuffer) % PAGE_BYTES, 0u);
}

TEST_F(ScsiCommandsTest, FailedLinkSpeedQueryKeepsThePreviousValue) {
    g_USB3_0 = 2;
    fake.failUnit[g_hDisk2] = ERROR_DEVICE_NOT_CONNECTED;
    EXPECT_EQ(scsi_cmd_read_link_speed(), -1);
    EXPECT_EQ(g_USB3_0, 2u);
    EXPECT_EQ(Traces(), "SCSI Error: 1167  ");
}

TEST_F(ScsiCommandsTest, UnpluggedProjectorIsPassedBackUntraced) {
    fake.failUnit[g_hDisk1] = ERROR_DEVICE_NOT_CONNECTED;
    uint8_t byte = 0;
    EXPECT_EQ(scsi_cmd_write_driverless(g_hDisk1, &byte, 1, 0x8000FC00), 1167);
    EXPECT_EQ(scsi_cmd_control_driverless(g_hDisk1, CTRL_FRAME_DONE), 1167);
    EXPECT_EQ(Traces(), "");
}

TEST_F(ScsiCommandsTest, OtherStreamFailuresAreTracedAndGiveMinusOne) {
    fake.failUnit[g_hDisk1] = 31;
    uint8_t byte = 0;
    EXPECT_EQ(scsi_cmd_write_driverless(g_hDisk1, &byte, 1, 0x8000FC00), -1);
    EXPECT_EQ(Traces(), "SCSI Error: 31  ");
    EXPECT_EQ(scsi_cmd_control_driverless(g_hDisk1, CTRL_FRAME_DONE), -1);
    EXPECT_EQ(Traces(), "SCSI Error: 31  SCSI Error: 31  ");
}

TEST_F(ScsiCommandsTest, VendorReadSendsTheCallersCdbIntoItsReplyArea) {
    ReadRequest request{};
    const std::vector<uint8_t> cdb = Bytes("FD 00 00 00 C0 FF 38 00 00 00 01 00 00 00 00 00");
    std::copy(cdb.begin(), cdb.end(), request.cdb);
    fake.replies[g_hDisk2] = Bytes("02 07 08 09 0A 0B");

    EXPECT_EQ(scsi_cmd_read_driverless(&request, g_hDisk2, 4), 4);

    const RecordedCommand& read = fake.commands.at(0);
    EXPECT_EQ(CdbOf(read), cdb);
    // The adapter sees a page-aligned buffer, not the reply area 16 bytes into the record.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(read.request.dataBuffer) % PAGE_BYTES, 0u);
    EXPECT_EQ(read.request.dataTransferLength, 4u);
    EXPECT_EQ(read.request.dataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(read.request.targetId, 3);
    EXPECT_EQ(read.request.senseInfoLength, 24);
    EXPECT_EQ(read.request.timeOutValue, 10u);
    // Only the bytes asked for arrive.
    EXPECT_EQ(std::vector<uint8_t>(request.reply, request.reply + 6), Bytes("02 07 08 09 00 00"));
}

TEST_F(ScsiCommandsTest, FailedVendorReadTracesTheSystemText) {
    fake.failUnit[g_hDisk2] = 31;
    fake.errorTexts[31] = "A device attached to the system is not functioning.\r\n";
    ReadRequest request{};
    EXPECT_EQ(scsi_cmd_read_driverless(&request, g_hDisk2, 4), 0);
    EXPECT_EQ(Traces(),
              "SCSI ERROR(R) => 31: A device attached to the system is not functioning.\r\n \n");

    // No text for the code: nothing traced.
    ClearTraces();
    fake.failUnit[g_hDisk2] = 12345;
    EXPECT_EQ(scsi_cmd_read_driverless(&request, g_hDisk2, 4), 0);
    EXPECT_EQ(Traces(), "");
}

TEST_F(ScsiCommandsTest, VendorReadRefusesAReplyLongerThanItsArea) {
    ReadRequest request{};
    EXPECT_EQ(scsi_cmd_read_driverless(&request, g_hDisk2, 85), 0);
    EXPECT_TRUE(fake.commands.empty());
    EXPECT_EQ(scsi_cmd_read_driverless(&request, g_hDisk2, 84), 4);
}

}  // namespace
