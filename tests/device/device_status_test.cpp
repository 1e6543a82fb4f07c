#include "device/device_status.h"

#include <cstdio>
#include <cstring>

#include "device/device_discovery.h"
#include "tests/device/device_test_support.h"

namespace {

class DeviceStatusTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        g_hDisk2 = FakeDeviceBackend::HandleOf(2);
    }

    void Reply(const char* bytes) { fake.replies[g_hDisk2] = Bytes(bytes); }

    // The last request: sent on the disk unit as a vendor read with this CDB and reply length.
    void ExpectRead(const char* cdb, uint32_t replyLength) {
        ASSERT_FALSE(fake.commands.empty());
        const RecordedCommand& read = fake.commands.back();
        EXPECT_EQ(read.unit, g_hDisk2);
        EXPECT_EQ(CdbOf(read), Bytes(cdb));
        EXPECT_EQ(read.request.dataTransferLength, replyLength);
        EXPECT_EQ(read.request.dataIn, SCSI_IOCTL_DATA_IN);
        EXPECT_EQ(read.request.targetId, 3);
        EXPECT_EQ(read.request.timeOutValue, 10u);
    }
};

TEST_F(DeviceStatusTest, FaultStatusIsByteZeroOfTheFaultRegister) {
    const struct {
        const char* reply;
        int status;
    } cases[] = {{"01 00 00 00", DEV_FAULT_OVERHEAT},
                 {"02 00 00 00", DEV_FAULT_FAN_FAILURE},
                 {"00 00 00 00", 0},
                 {"03 00 00 00", 3}};
    for (const auto& c : cases) {
        ClearTraces();
        Reply(c.reply);
        EXPECT_EQ(ReadDevFaultStatus(), c.status);
        ExpectRead("FD 00 00 00 C0 FF 38 00 00 00 01 00 00 00 00 00", 4);
        EXPECT_EQ(Traces(), "DevErrTimerProc: scsi_cmd_read_driverless success!\n");
    }
}

TEST_F(DeviceStatusTest, FailedFaultReadIsTracedAndReportsNoStatus) {
    fake.failUnit[g_hDisk2] = 31;
    EXPECT_EQ(ReadDevFaultStatus(), DEV_FAULT_READ_FAILED);
    EXPECT_EQ(Traces(), "DevErrTimerProc: scsi_cmd_read_driverless error!\n");
}

TEST_F(DeviceStatusTest, PowerModeSetThenReadBack) {
    // A power register that keeps what is written to it.
    uint8_t powerRegister = POWER_MODE_AUTO;
    fake.responder = [&](const ScsiRequest& request) {
        if (request.cdb[6] == MCU_REG_POWER && request.cdb[7] == 1) {
            powerRegister = request.cdb[8];
        } else {
            static_cast<uint8_t*>(request.dataBuffer)[0] = powerRegister;
        }
        return 0u;
    };

    EXPECT_EQ(SetDevPowerMode(POWER_MODE_ECO), 0);
    ExpectRead("FD 00 00 00 C0 FF 35 01 01 00 01 00 00 00 00 00", 4);
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_ECO);
    ExpectRead("FD 00 00 00 C0 FF 35 00 00 00 01 00 00 00 00 00", 4);

    EXPECT_EQ(SetDevPowerMode(POWER_MODE_AUTO), 0);
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_AUTO);
    EXPECT_EQ(Traces(),
              "SetDevPowerMode: scsi_cmd_read_driverless success!\n"
              "GetDevPowerMode: scsi_cmd_read_driverless success!\n"
              "SetDevPowerMode: scsi_cmd_read_driverless success!\n"
              "GetDevPowerMode: scsi_cmd_read_driverless success!\n");
}

TEST_F(DeviceStatusTest, VanishedDiskUnitGivesFailureValues) {
    fake.failUnit[g_hDisk2] = ERROR_DEVICE_NOT_CONNECTED;
    fake.errorTexts[ERROR_DEVICE_NOT_CONNECTED] = "The device is not connected.\r\n";
    uint8_t id[3] = {7, 7, 7};
    uint8_t info[FIRMWARE_INFO_BYTES];
    std::memset(info, 7, sizeof info);

    EXPECT_EQ(GetDevPowerMode(), 0xFF);
    EXPECT_EQ(SetDevPowerMode(POWER_MODE_ECO), 0xFF);
    EXPECT_EQ(GetMCUFirmInfo(id), 0);
    EXPECT_EQ(getDriverLessFirmInfo(info), 0);

    EXPECT_EQ(id[0], 7);
    EXPECT_EQ(info[0], 7);
    const std::string vanished = "SCSI ERROR(R) => 1167: The device is not connected.\r\n \n";
    EXPECT_EQ(Traces(), vanished + "GetDevPowerMode: scsi_cmd_read_driverless error!\n" + vanished +
                            "SetDevPowerMode: scsi_cmd_read_driverless error!\n" + vanished +
                            "GetMCUFirmInfo: scsi_cmd_read_driverless error!\n" + vanished);
}

TEST_F(DeviceStatusTest, MicrocontrollerFirmwareIsThreeCharacters) {
    Reply("41 30 31 00");
    uint8_t id[4] = {0, 0, 0, 0x55};
    EXPECT_EQ(GetMCUFirmInfo(id), 1);
    ExpectRead("FD 00 00 00 C0 FF 14 00 00 00 03 00 00 00 00 00", 4);
    char text[8];
    std::snprintf(text, sizeof text, "%c%c%c", id[0], id[1], id[2]);
    EXPECT_STREQ(text, "A01");
    EXPECT_EQ(id[3], 0x55);  // only three bytes are written
    EXPECT_EQ(Traces(), "");
}

TEST_F(DeviceStatusTest, DriverlessFirmwareIsTheAnswerThenZeros) {
    // More than the 10 bytes asked for are on offer; only those 10 arrive.
    Reply("01 02 03 01 04 AA BB CC DD EE 99 99 99");
    uint8_t info[FIRMWARE_INFO_BYTES];
    std::memset(info, 0x77, sizeof info);
    EXPECT_EQ(getDriverLessFirmInfo(info), 1);
    ExpectRead("FD 00 00 00 C0 A1 00 00 00 00 00 00 00 00 00 00", 10);

    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d.%d", info[0], info[1], info[2],
                  info[3] * 256 + info[4]);
    EXPECT_STREQ(version, "1.2.3.260");
    EXPECT_EQ(std::vector<uint8_t>(info + 5, info + 10), Bytes("AA BB CC DD EE"));
    EXPECT_EQ(std::vector<uint8_t>(info + 10, info + 64), std::vector<uint8_t>(54));
    EXPECT_EQ(Traces(), "");
}

}  // namespace
