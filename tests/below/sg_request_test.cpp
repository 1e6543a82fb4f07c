// What the virtual projector's sg node makes of an SG_IO header: the program's own headers and
// the ones Wine derives from the program's x64 pass-through record pass, each broken field is
// named, and the sg driver's refusals stop the request before the device.
#include "emulator/sg_nodes/sg_request.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "device/pass_through_record.h"
#include "device/scsi_commands.h"
#include "device/sg_io_request.h"
#include "emulator/virtual_projector.h"

namespace {

using emu::ReadSgRequest;
using emu::SgCaller;
using emu::SgIntake;

ScsiRequest WriteRequest(std::vector<uint8_t>* data) {
    Cdb cdb = BuildWriteCdb(0x8000FC00);
    ScsiRequest request{};
    std::memcpy(request.cdb, cdb.data(), cdb.size());
    request.targetId = 1;
    request.senseInfoLength = 32;
    request.dataIn = SCSI_IOCTL_DATA_OUT;
    request.dataTransferLength = static_cast<uint32_t>(data->size());
    request.timeOutValue = STREAM_TIMEOUT_SECONDS;
    request.dataBuffer = data->data();
    return request;
}

ScsiRequest ControlRequest() {
    Cdb cdb = BuildControlCdb(CTRL_FRAME_DONE);
    ScsiRequest request{};
    std::memcpy(request.cdb, cdb.data(), cdb.size());
    request.targetId = 1;
    request.senseInfoLength = 32;
    request.dataIn = SCSI_IOCTL_DATA_OUT;
    request.timeOutValue = STREAM_TIMEOUT_SECONDS;
    return request;
}

void ExpectSameRequest(const ScsiRequest& got, const ScsiRequest& sent, uint8_t targetId) {
    EXPECT_EQ(std::memcmp(got.cdb, sent.cdb, sizeof got.cdb), 0);
    EXPECT_EQ(got.targetId, targetId);
    EXPECT_EQ(got.senseInfoLength, sent.senseInfoLength);
    EXPECT_EQ(got.dataIn, sent.dataIn);
    EXPECT_EQ(got.dataTransferLength, sent.dataTransferLength);
    EXPECT_EQ(got.timeOutValue, sent.timeOutValue);
    EXPECT_EQ(got.dataBuffer, sent.dataBuffer);
}

std::string AllErrors(const SgIntake& intake) {
    std::string text;
    for (const std::string& error : intake.errors) {
        text += error + "\n";
    }
    return text;
}

TEST(SgRequest, TheProgramsOwnHeadersPassWithoutTargetId) {
    std::vector<uint8_t> data(64616, 0x5A);
    uint8_t sense[32] = {};
    for (const ScsiRequest& sent : {WriteRequest(&data), ControlRequest()}) {
        sg_io_hdr header = BuildSgIoRequest(sent, sense);
        SgIntake intake = ReadSgRequest(header, SgCaller::Native);
        EXPECT_EQ(intake.refusal, 0);
        EXPECT_TRUE(intake.errors.empty()) << AllErrors(intake);
        ExpectSameRequest(intake.request, sent, emu::kTargetIdNotCarried);
    }
}

TEST(SgRequest, HeaderFieldsTheProgramNeverSendsAreNamed) {
    std::vector<uint8_t> data(4032);
    uint8_t sense[32] = {};
    const ScsiRequest write = WriteRequest(&data);  // the header points at its CDB
    sg_io_hdr good = BuildSgIoRequest(write, sense);
    struct Case {
        const char* what;
        void (*spoil)(sg_io_hdr*);
        const char* named;
    };
    const Case cases[] = {
        {"a 12-byte command", [](sg_io_hdr* h) { h->cmd_len = 12; }, "cmd_len 12"},
        {"a timeout of 1.5 s", [](sg_io_hdr* h) { h->timeout = 1500; }, "timeout 1500 ms"},
        {"data with SG_DXFER_NONE", [](sg_io_hdr* h) { h->dxfer_direction = SG_DXFER_NONE; },
         "SG_DXFER_NONE with dxfer_len 4032"},
        {"both directions", [](sg_io_hdr* h) { h->dxfer_direction = SG_DXFER_TO_FROM_DEV; },
         "dxfer_direction -4"},
        {"sense without a buffer", [](sg_io_hdr* h) { h->sbp = nullptr; }, "mx_sb_len 32"},
        {"a direction for no data",
         [](sg_io_hdr* h) {
             h->dxfer_len = 0;
             h->dxferp = nullptr;
         },
         "a direction without data"},
        {"direct I/O", [](sg_io_hdr* h) { h->flags = SG_FLAG_DIRECT_IO; }, "flags 1"},
    };
    for (const Case& c : cases) {
        sg_io_hdr header = good;
        c.spoil(&header);
        SgIntake intake = ReadSgRequest(header, SgCaller::Native);
        EXPECT_EQ(intake.refusal, 0) << c.what;
        ASSERT_EQ(intake.errors.size(), 1u) << c.what << ": " << AllErrors(intake);
        EXPECT_NE(intake.errors[0].find(c.named), std::string::npos) << intake.errors[0];
    }
}

TEST(SgRequest, TheDriversRefusalsKeepTheRequestFromTheDevice) {
    uint8_t sense[32] = {};
    const ScsiRequest control = ControlRequest();
    sg_io_hdr header = BuildSgIoRequest(control, sense);
    header.interface_id = 'Q';
    EXPECT_EQ(ReadSgRequest(header, SgCaller::Native).refusal, ENOSYS);
    header.interface_id = 'S';
    header.cmd_len = 17;
    EXPECT_EQ(ReadSgRequest(header, SgCaller::Native).refusal, EMSGSIZE);
    header.cmd_len = 16;
    header.cmdp = nullptr;
    EXPECT_EQ(ReadSgRequest(header, SgCaller::Native).refusal, EMSGSIZE);
}

// The header Wine's pass-through gives SG_IO for a record: its fields, as documented for
// IOCTL_SCSI_PASS_THROUGH_DIRECT, carried one to one.
sg_io_hdr WineHeader(PassThroughRecord64* record) {
    sg_io_hdr header{};
    header.interface_id = 'S';
    header.cmd_len = record->sptd.CdbLength;
    header.mx_sb_len = record->sptd.SenseInfoLength;
    header.dxfer_len = record->sptd.DataTransferLength;
    header.dxferp = reinterpret_cast<void*>(record->sptd.DataBuffer);
    header.cmdp = record->sptd.Cdb;
    header.sbp = reinterpret_cast<uint8_t*>(record) + record->sptd.SenseInfoOffset;
    header.timeout = record->sptd.TimeOutValue * 1000;
    header.dxfer_direction =
        record->sptd.DataIn == SCSI_IOCTL_DATA_IN ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    return header;
}

class WineRecordTest : public ::testing::Test {
  protected:
    std::vector<uint8_t> data = std::vector<uint8_t>(64616, 0x33);
    ScsiRequest sent = WriteRequest(&data);
    PassThroughRecord64 record = BuildPassThroughRecord<uint64_t>(sent);
};

TEST_F(WineRecordTest, TheProgramsRecordPassesAndItsRequestReachesTheCore) {
    SgIntake intake = ReadSgRequest(WineHeader(&record), SgCaller::Wine64);
    EXPECT_TRUE(intake.errors.empty()) << AllErrors(intake);
    ExpectSameRequest(intake.request, sent, 1);

    PassThroughRecord64 control = BuildPassThroughRecord<uint64_t>(ControlRequest());
    intake = ReadSgRequest(WineHeader(&control), SgCaller::Wine64);
    EXPECT_TRUE(intake.errors.empty()) << AllErrors(intake);
    EXPECT_EQ(intake.request.dataTransferLength, 0u);
    EXPECT_EQ(intake.request.dataBuffer, nullptr);
}

TEST_F(WineRecordTest, EachFieldOfTheRecordIsChecked) {
    struct Case {
        const char* what;
        void (*spoil)(PassThroughRecord64*);
        const char* named;
    };
    const Case cases[] = {
        {"the 32-bit structure's length", [](PassThroughRecord64* r) { r->sptd.Length = 44; },
         "record Length 44, expected 56"},
        {"a status left over", [](PassThroughRecord64* r) { r->sptd.ScsiStatus = 2; },
         "record ScsiStatus 2"},
        {"a path", [](PassThroughRecord64* r) { r->sptd.PathId = 1; }, "record PathId 1"},
        {"a LUN", [](PassThroughRecord64* r) { r->sptd.Lun = 1; }, "record Lun 1"},
        {"a filler not cleared", [](PassThroughRecord64* r) { r->filler = 7; }, "byte 56"},
        {"sense not cleared", [](PassThroughRecord64* r) { r->sense[31] = 1; }, "sense area"},
    };
    for (const Case& c : cases) {
        PassThroughRecord64 spoilt = record;
        c.spoil(&spoilt);
        SgIntake intake = ReadSgRequest(WineHeader(&spoilt), SgCaller::Wine64);
        ASSERT_EQ(intake.errors.size(), 1u) << c.what << ": " << AllErrors(intake);
        EXPECT_NE(intake.errors[0].find(c.named), std::string::npos) << intake.errors[0];
    }
}

TEST_F(WineRecordTest, WhatReachesSgIoMustBeTheRecords) {
    // The sense area moved to where the 32-bit record has it: both the offset and the header's
    // sense pointer disagree with the x64 layout.
    record.sptd.SenseInfoOffset = 48;
    SgIntake intake = ReadSgRequest(WineHeader(&record), SgCaller::Wine64);
    EXPECT_EQ(intake.errors.size(), 1u) << AllErrors(intake);
    record.sptd.SenseInfoOffset = 60;

    sg_io_hdr header = WineHeader(&record);
    header.timeout = 2500;
    header.dxferp = data.data() + 1;
    header.dxfer_direction = SG_DXFER_FROM_DEV;
    intake = ReadSgRequest(header, SgCaller::Wine64);
    std::string errors = AllErrors(intake);
    EXPECT_EQ(intake.errors.size(), 3u) << errors;
    EXPECT_NE(errors.find("SG_IO timeout (ms) 2500 does not follow the record's 2000"),
              std::string::npos);
    EXPECT_NE(errors.find("is not the record's DataBuffer"), std::string::npos);
    EXPECT_NE(errors.find("SG_IO dxfer_direction"), std::string::npos);
}

TEST_F(WineRecordTest, TheProjectorMovesTheHeadersDataWhateverTheRecordSays) {
    sg_io_hdr header = WineHeader(&record);
    header.dxfer_len = 2;
    SgIntake intake = ReadSgRequest(header, SgCaller::Wine64);
    EXPECT_NE(AllErrors(intake).find("SG_IO dxfer_len 2 does not follow the record's 64616"),
              std::string::npos);
    EXPECT_EQ(intake.request.dataTransferLength, 2u);
    EXPECT_EQ(intake.request.dataBuffer, data.data());
    header.dxfer_direction = SG_DXFER_NONE;
    intake = ReadSgRequest(header, SgCaller::Wine64);
    EXPECT_EQ(intake.request.dataTransferLength, 0u) << "the driver moves none";
    EXPECT_EQ(intake.request.dataBuffer, nullptr);
}

TEST(SgRequest, ResultsComeBackAsTheDriverGivesThem) {
    sg_io_hdr header{};
    header.status = 0x02;
    header.host_status = 7;
    header.resid = 9;
    int error = 0;
    EXPECT_EQ(emu::CompleteSgRequest(0, 3, &header, &error), 0);
    EXPECT_EQ(header.status, 0);
    EXPECT_EQ(header.host_status, 0);
    EXPECT_EQ(header.resid, 0);
    EXPECT_EQ(header.duration, 3u);
    EXPECT_EQ(emu::CompleteSgRequest(ERROR_DEVICE_NOT_CONNECTED, 0, &header, &error), -1);
    EXPECT_EQ(error, ENODEV);
    EXPECT_EQ(emu::CompleteSgRequest(EIO, 0, &header, &error), -1);
    EXPECT_EQ(error, EIO);
}

TEST(SgRequest, TheRequestInFlightWhenTheDeviceGoesIsAHostErrorToTheProgram) {
    std::vector<uint8_t> slice(4096, 0x5A);
    sg_io_hdr header{};
    header.dxfer_direction = SG_DXFER_TO_DEV;
    header.dxfer_len = static_cast<unsigned>(slice.size());
    header.dxferp = slice.data();
    header.status = 0x02;
    emu::CompleteLostSgRequest(12, &header);
    EXPECT_EQ(header.status, 0);
    EXPECT_EQ(header.resid, 4096);
    EXPECT_EQ(header.duration, 12u);
    // Not the unplug itself: the next request's ENODEV says that.
    EXPECT_EQ(SgIoResult(0, 0, header), static_cast<uint32_t>(EIO));
}

}  // namespace
