#include "device/sg_io_request.h"

#include <cerrno>
#include <vector>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/scsi_commands.h"
#include "tests/device/device_test_support.h"

namespace {

class SgIoRequestTest : public DeviceTest {
  protected:
    // The SG_IO header for the request the last command handed to the backend.
    sg_io_hdr HeaderOfLast() {
        last_ = fake.commands.back().request;
        return BuildSgIoRequest(last_, sense_);
    }
    std::vector<uint8_t> CommandOf(const sg_io_hdr& header) {
        return {header.cmdp, header.cmdp + header.cmd_len};
    }

    ScsiRequest last_{};
    uint8_t sense_[32] = {};
};

TEST_F(SgIoRequestTest, WriteGoesToTheDeviceWithTheCallersBytes) {
    std::vector<uint8_t> data(64616);
    scsi_cmd_write_driverless(nullptr, data.data(), 64616, 0x8000FC00);
    sg_io_hdr header = HeaderOfLast();
    EXPECT_EQ(header.interface_id, 'S');
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(header.cmd_len, 16);
    EXPECT_EQ(CommandOf(header), Bytes("FF 00 00 00 00 FC 00 80 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(header.dxfer_len, 64616u);
    EXPECT_EQ(header.dxferp, data.data());
    EXPECT_EQ(header.timeout, 2000u);
    EXPECT_EQ(header.mx_sb_len, 32);
    EXPECT_EQ(header.sbp, sense_);
    EXPECT_EQ(header.iovec_count, 0);
    EXPECT_EQ(header.flags, 0u);
}

TEST_F(SgIoRequestTest, ControlMovesNoData) {
    scsi_cmd_control_driverless(nullptr, CTRL_FRAME_DONE);
    sg_io_hdr header = HeaderOfLast();
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(header.dxfer_len, 0u);
    EXPECT_EQ(header.dxferp, nullptr);
    EXPECT_EQ(CommandOf(header), Bytes("FE 00 00 00 C0 D1 05 00 40 00 01 00 00 00 00 00"));
    EXPECT_EQ(header.timeout, 2000u);
}

TEST_F(SgIoRequestTest, ReadsComeFromTheDevice) {
    scsi_cmd_read_link_speed();
    sg_io_hdr header = HeaderOfLast();
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(header.dxfer_len, 4u);
    EXPECT_EQ(CommandOf(header), Bytes("FD 00 00 00 C0 A5 00 00 00 A0 04 00 00 00 00 00"));
    EXPECT_EQ(header.timeout, 2000u);

    SetDevPowerMode(POWER_MODE_ECO);
    header = HeaderOfLast();
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(header.dxfer_len, 4u);
    EXPECT_EQ(CommandOf(header), Bytes("FD 00 00 00 C0 FF 35 01 01 00 01 00 00 00 00 00"));
    EXPECT_EQ(header.timeout, 10000u);
    EXPECT_EQ(header.mx_sb_len, 24);
}

// The rest of the protocol as it reaches the sg node: the open command, the last slice of a
// frame, and the status and firmware reads with their reply lengths and ten-second timeout.
TEST_F(SgIoRequestTest, EveryOtherCommandReachesTheNodeAsBuilt) {
    scsi_cmd_control_driverless(nullptr, CTRL_OPEN);
    sg_io_hdr header = HeaderOfLast();
    EXPECT_EQ(CommandOf(header), Bytes("FE 00 00 00 C0 D1 01 00 40 00 01 00 00 00 00 00"));
    EXPECT_EQ(header.dxfer_direction, SG_DXFER_NONE);

    std::vector<uint8_t> lastSlice(4136);
    scsi_cmd_write_driverless(nullptr, lastSlice.data(), 4136, 0x8093B000);
    header = HeaderOfLast();
    EXPECT_EQ(CommandOf(header), Bytes("FF 00 00 00 00 B0 93 80 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(header.dxfer_len, 4136u);

    const struct {
        void (*request)();
        const char* cdb;
        unsigned replyLength;
    } reads[] = {
        {[] { ReadDevFaultStatus(); }, "FD 00 00 00 C0 FF 38 00 00 00 01 00 00 00 00 00", 4},
        {[] { GetDevPowerMode(); }, "FD 00 00 00 C0 FF 35 00 00 00 01 00 00 00 00 00", 4},
        {[] {
             uint8_t id[MCU_FIRMWARE_ID_BYTES];
             GetMCUFirmInfo(id);
         },
         "FD 00 00 00 C0 FF 14 00 00 00 03 00 00 00 00 00", 4},
        {[] {
             uint8_t info[FIRMWARE_INFO_BYTES];
             getDriverLessFirmInfo(info);
         },
         "FD 00 00 00 C0 A1 00 00 00 00 00 00 00 00 00 00", 10},
    };
    for (const auto& read : reads) {
        read.request();
        header = HeaderOfLast();
        EXPECT_EQ(CommandOf(header), Bytes(read.cdb));
        EXPECT_EQ(header.dxfer_direction, SG_DXFER_FROM_DEV);
        EXPECT_EQ(header.dxfer_len, read.replyLength);
        EXPECT_EQ(header.timeout, 10000u);
        EXPECT_EQ(header.mx_sb_len, 24);
    }
}

TEST(SgIoResult, VanishedUnitIsNotConnected) {
    sg_io_hdr header{};
    EXPECT_EQ(SgIoResult(-1, ENODEV, header), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(SgIoResult(-1, ENXIO, header), ERROR_DEVICE_NOT_CONNECTED);
    header.host_status = 0x01;  // DID_NO_CONNECT
    EXPECT_EQ(SgIoResult(0, 0, header), ERROR_DEVICE_NOT_CONNECTED);
}

TEST(SgIoResult, OtherFailuresKeepTheirCode) {
    sg_io_hdr header{};
    EXPECT_EQ(SgIoResult(-1, EACCES, header), uint32_t{EACCES});
    EXPECT_EQ(SgIoResult(-1, ENOTTY, header), uint32_t{ENOTTY});
    header.host_status = 0x03;  // DID_TIME_OUT
    EXPECT_EQ(SgIoResult(0, 0, header), uint32_t{ETIMEDOUT});
    header.host_status = 0x07;  // DID_ERROR
    EXPECT_EQ(SgIoResult(0, 0, header), uint32_t{EIO});
    header.host_status = 0;
    header.driver_status = 0x06;  // DRIVER_TIMEOUT
    EXPECT_EQ(SgIoResult(0, 0, header), uint32_t{ETIMEDOUT});
}

TEST(SgIoResult, CompletedCommandSucceedsWhateverItsScsiStatus) {
    sg_io_hdr header{};
    EXPECT_EQ(SgIoResult(0, 0, header), 0u);
    header.status = 0x02;         // check condition
    header.driver_status = 0x08;  // DRIVER_SENSE
    EXPECT_EQ(SgIoResult(0, 0, header), 0u);
}

}  // namespace
