#include "emulator/virtual_projector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "kvcap/synthetic_pattern.h"
#include "platform/whole_file.h"
#include "tests/emulator/hand_host.h"
#include "tests/support/test_files.h"
#include "tests/support/trace_recorder.h"

namespace {

using emu::VirtualConfig;
using emu::VirtualProjector;

class QuietTraces : public ::testing::Test {
  protected:
    TraceRecorder m_traces;  // kept from the platform output, unread
};

VirtualConfig WithLinks(std::vector<uint32_t> links) {
    VirtualConfig config;
    config.linkValues = std::move(links);
    return config;
}

std::string AllErrors(const VirtualProjector& projector) {
    std::string text;
    for (const std::string& error : projector.Report().protocolErrors) {
        text += error + "\n";
    }
    return text;
}

using UnitsTest = QuietTraces;

TEST_F(UnitsTest, ListsBothUnitsOfEachProjectorWithWindowsLikePaths) {
    VirtualProjector projector(WithLinks({0, 2}));
    std::vector<std::string> paths;
    std::string path;
    uint32_t error = 0;
    for (uint32_t i = 0; projector.GetDiskInterface(i, &path, &error) == InterfaceLookup::Found;
         ++i) {
        paths.push_back(path);
    }
    EXPECT_EQ(error, ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(paths.size(), 5u);  // the system disk, then two units per projector
    auto contains = [](std::string text, std::string part) {
        for (std::string* s : {&text, &part}) {
            for (char& c : *s) {
                c = static_cast<char>(tolower(c));
            }
        }
        return text.find(part) != std::string::npos;
    };
    for (int p = 0; p < 2; ++p) {
        const std::string& disk = paths[1 + 2 * p];
        const std::string& optical = paths[2 + 2 * p];
        EXPECT_TRUE(contains(disk, "USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00")) << disk;
        EXPECT_TRUE(contains(optical, "USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00"))
            << optical;
        EXPECT_EQ(disk.rfind("\\\\?\\usbstor#", 0), 0u) << disk;
        EXPECT_NE(disk.find("#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"), std::string::npos);
    }
    EXPECT_FALSE(contains(paths[0], "KVUSB"));
    EXPECT_NE(paths[1], paths[3]);

    EXPECT_EQ(projector.OpenUnit("\\\\?\\usbstor#nothing", &error), nullptr);
    EXPECT_EQ(error, 2u);
}

TEST_F(UnitsTest, EachProjectorHasARemovableVolumeWhoseRemovalIsRecorded) {
    VirtualProjector projector(WithLinks({2, 2}));
    projector.AddVolume({"G:\\", false, true, "TARQ K7Q0"});
    std::vector<VolumeInfo> volumes = projector.ListVolumes();
    ASSERT_EQ(volumes.size(), 4u);
    EXPECT_EQ(volumes[1].root, "E:\\");
    EXPECT_TRUE(volumes[1].removable);
    EXPECT_EQ(volumes[1].label, "TARQ K7Q0");
    EXPECT_EQ(volumes[2].root, "F:\\");

    projector.RemoveMountPoint("E:\\");
    emu::EmulatorReport report = projector.Report();
    EXPECT_EQ(report.mountPointRemovals, std::vector<std::string>{"E:\\"});
    EXPECT_FALSE(report.projectors[0].volumeMounted);
    EXPECT_TRUE(report.projectors[1].volumeMounted);
    EXPECT_EQ(projector.ListVolumes().size(), 3u);
}

using CommandsTest = QuietTraces;

TEST_F(CommandsTest, LinkSpeedIsAnsweredMostSignificantByteFirst) {
    for (uint32_t link : {1u, 2u, 3u, 0u, 0x01000000u, 6u}) {
        VirtualProjector projector(WithLinks({link}));
        HandHost host(projector);
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(host.LinkSpeed(&value), 0u);
        EXPECT_EQ(value, link);
    }
    VirtualProjector projector;
    HandHost host(projector);
    EXPECT_EQ(projector.CommandLog().size(), 0u);
    uint32_t value = 0;
    host.LinkSpeed(&value);
    EXPECT_EQ(projector.Report().protocolErrorCount, 0u) << AllErrors(projector);
    std::vector<emu::CommandRecord> log = projector.CommandLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_STREQ(log[0].direction, "in");
    EXPECT_EQ(log[0].length, 4u);
    EXPECT_EQ(log[0].unit, emu::UnitKind::Disk);
}

TEST_F(CommandsTest, RegistersAnswerOnlyTheirOwnBytes) {
    VirtualConfig config;
    config.fault = 2;
    config.mcuFirmware = {'A', '1', '0'};
    config.firmwareInfo = {1, 2, 3, 1, 4, 0, 0, 0, 0, 9};
    VirtualProjector projector(config);
    HandHost host(projector);
    uint8_t reply[84];

    EXPECT_EQ(host.ReadRegister(0x38, 1, reply), 0u);
    EXPECT_EQ(reply[0], 2);
    EXPECT_EQ(reply[1], 0);

    EXPECT_EQ(host.ReadRegister(0x35, 1, reply), 0u);
    EXPECT_EQ(reply[0], 0);
    EXPECT_EQ(host.WriteRegister(0x35, 1), 0u);
    EXPECT_EQ(host.ReadRegister(0x35, 1, reply), 0u);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(projector.Report().projectors[0].powerMode, 1);

    EXPECT_EQ(host.ReadRegister(0x14, 3, reply), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 4), std::string("A10\0", 4));

    memset(reply, 0xEE, sizeof reply);
    EXPECT_EQ(host.Read({0xFD, 0, 0, 0, 0xC0, 0xA1}, reply, 10), 0u);
    const uint8_t expected[10] = {1, 2, 3, 1, 4, 0, 0, 0, 0, 9};
    EXPECT_EQ(memcmp(reply, expected, 10), 0);
    EXPECT_EQ(projector.Report().protocolErrorCount, 0u) << AllErrors(projector);

    projector.SetFault(1);
    host.ReadRegister(0x38, 1, reply);
    EXPECT_EQ(reply[0], 1);
}

TEST_F(CommandsTest, AProjectorWithNoLinkAnswersFrameCommandsAsUnplugged) {
    VirtualProjector projector(WithLinks({0, 2}));
    HandHost first(projector, 0);
    HandHost second(projector, 1);
    EXPECT_EQ(first.Control(1), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(second.Control(1), 0u);
    EXPECT_EQ(projector.Report().projectors[1].openCommands, 1);
}

TEST_F(CommandsTest, ClosedAndUnknownHandlesAreRefused) {
    VirtualProjector projector;
    HandHost host(projector);
    projector.CloseUnit(host.optical);
    EXPECT_EQ(host.Control(1), 6u);
    int unrelated = 0;
    EXPECT_EQ(host.Send(&unrelated, HandHost::ControlRequest(1)), 6u);
    EXPECT_EQ(projector.Report().protocolErrorCount, 2u);
}

using FramesTest = QuietTraces;

TEST_F(FramesTest, RawFramesInBothBanksAreAssembledAndStoredAtTheirAddresses) {
    VirtualProjector projector;
    HandHost host(projector);
    std::vector<uint8_t> first = NoiseFrame(1);
    std::vector<uint8_t> second = NoiseFrame(2);
    ASSERT_EQ(host.SendRawFrame(first, 0), 0u);
    EXPECT_EQ(projector.LastFrame(), first);
    ASSERT_EQ(host.SendRawFrame(second, 1), 0u);
    EXPECT_EQ(projector.LastFrame(), second);

    emu::EmulatorReport report = projector.Report();
    EXPECT_EQ(report.protocolErrorCount, 0u) << AllErrors(projector);
    EXPECT_EQ(report.projectors[0].framesCompleted[0], 1);
    EXPECT_EQ(report.projectors[0].framesCompleted[1], 1);

    // The bank holds the writes as sent; the last slice's write is intact at its address.
    std::vector<uint8_t> lastWrite = RawSliceWrite(second, 19, true);
    EXPECT_EQ(projector.ReadMemory(0, 0x8093B000, lastWrite.size()), lastWrite);
    EXPECT_EQ(projector.ReadMemory(0, 0x80800000, 0xFC00), std::vector<uint8_t>(0xFC00, 0));
    EXPECT_EQ(projector.CommandLog().size(), 42u);
}

// One broken frame exchange per case: the projector must name the fault and show nothing.
struct BadExchange {
    const char* name;
    const char* expected;  // part of the protocol error
    std::function<void(HandHost&, const std::vector<uint8_t>&)> send;
};

// Sends the good raw frame but lets `edit` change write `slice` (or the frame-done when
// slice is 20) first.
std::function<void(HandHost&, const std::vector<uint8_t>&)> EditWrite(
    int which, std::function<void(ScsiRequest*, std::vector<uint8_t>*)> edit) {
    return [which, edit](HandHost& host, const std::vector<uint8_t>& frame) {
        for (int slice = 0; slice <= 20; ++slice) {
            std::vector<uint8_t> data;
            ScsiRequest request = HandHost::ControlRequest(5);
            if (slice < 20) {
                data = RawSliceWrite(frame, slice, true);
                request = HandHost::WriteRequest(SliceAddress(0, slice), data);
            }
            if (slice == which) {
                edit(&request, &data);
                if (slice < 20) {
                    request.dataBuffer = data.data();
                    request.dataTransferLength = static_cast<uint32_t>(data.size());
                }
            }
            host.Send(host.optical, request);
        }
    };
}

void SetAddress(ScsiRequest* request, uint32_t address) {
    for (int i = 0; i < 4; ++i) {
        request->cdb[4 + i] = static_cast<uint8_t>(address >> (8 * i));
    }
}

const BadExchange
    kBadExchanges
        [] =
            {
                {"LeadInNotZero", "lead-in byte 10 is 01",
                 EditWrite(3, [](ScsiRequest*, std::vector<uint8_t>* d) { (*d)[10] = 1; })},
                {"NoLeadIn", "slice 4 lacks the 64-byte lead-in",
                 EditWrite(4,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               d->erase(d->begin(), d->begin() + 64);
                           })},
                {"HeaderChecksum", "checksum",
                 EditWrite(0, [](ScsiRequest*, std::vector<uint8_t>* d) { (*d)[64 + 19] ^= 1; })},
                {"HeaderMarker", "neither the 64-byte lead-in nor a frame header",
                 EditWrite(0,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               d->erase(d->begin(), d->begin() + 65);
                           })},
                {"HeaderWidth", "raw slice header: width 1000, expected 1024",
                 EditWrite(2,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               (*d)[64 + 8] = 1000 & 0xFF;
                               (*d)[64 + 9] = 1000 >> 8;
                               FixChecksum(d->data() + 64);
                           })},
                {"HeaderType", "type 3 is neither raw",
                 EditWrite(2,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               (*d)[64 + 3] = 0x30;
                               FixChecksum(d->data() + 64);
                           })},
                {"PayloadShort", "raw payload of 64508 bytes, header says 64512",
                 EditWrite(5,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               d->erase(d->begin() + 100, d->begin() + 104);
                           })},
                {"EndMarkerMissing", "does not close with the end marker",
                 EditWrite(
                     6, [](ScsiRequest*, std::vector<uint8_t>* d) { d->resize(d->size() - 20); })},
                {"LastSliceOfRawFrameWithoutLeadIn",
                 "last slice of a raw frame lacks the 64-byte lead-in",
                 EditWrite(19,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               d->erase(d->begin(), d->begin() + 64);
                           })},
                {"LastSliceWrongLength", "raw slice header: payload size 4000, expected 4032",
                 EditWrite(19,
                           [](ScsiRequest*, std::vector<uint8_t>* d) {
                               d->erase(d->begin() + 84, d->begin() + 116);
                               (*d)[64 + 12] = 4000 & 0xFF;
                               (*d)[64 + 13] = 4000 >> 8;
                               FixChecksum(d->data() + 64);
                           })},
                {"AddressMisaligned", "is no slice address",
                 EditWrite(1,
                           [](ScsiRequest* r, std::vector<uint8_t>*) {
                               SetAddress(r, SliceAddress(0, 1) + 4);
                           })},
                {"AddressBankStart", "is no slice address",
                 EditWrite(
                     0, [](ScsiRequest* r, std::vector<uint8_t>*) { SetAddress(r, 0x80000000); })},
                {"AddressOutsideBanks", "does not fit the frame banks",
                 EditWrite(
                     0, [](ScsiRequest* r, std::vector<uint8_t>*) { SetAddress(r, 0x7FFF0000); })},
                {"SliceOutOfOrder", "slice 9 written after slice 7",
                 EditWrite(8,
                           [](ScsiRequest* r, std::vector<uint8_t>*) {
                               SetAddress(r, SliceAddress(0, 9));
                           })},
                {"BankChangedMidFrame", "written to bank 1 while its frame began in bank 0",
                 EditWrite(8,
                           [](ScsiRequest* r, std::vector<uint8_t>*) {
                               SetAddress(r, SliceAddress(1, 8));
                           })},
                {"TargetId", "TargetId 3, expected 1",
                 EditWrite(0, [](ScsiRequest* r, std::vector<uint8_t>*) { r->targetId = 3; })},
                {"SenseInfoLength", "SenseInfoLength 24, expected 32",
                 EditWrite(0,
                           [](ScsiRequest* r, std::vector<uint8_t>*) { r->senseInfoLength = 24; })},
                {"DataIn", "DataIn 1, expected 0",
                 EditWrite(0,
                           [](ScsiRequest* r, std::vector<uint8_t>*) {
                               r->dataIn = SCSI_IOCTL_DATA_IN;
                           })},
                {"WriteTimeout", "TimeOutValue 10 s, expected 2 s",
                 EditWrite(0, [](ScsiRequest* r, std::vector<uint8_t>*) { r->timeOutValue = 10; })},
                {"WriteCdbByte", "CDB byte 9 is 01, expected 00",
                 EditWrite(0, [](ScsiRequest* r, std::vector<uint8_t>*) { r->cdb[9] = 1; })},
                {"ControlWithData", "DataTransferLength 4 without a data buffer",
                 EditWrite(
                     20, [](ScsiRequest* r, std::vector<uint8_t>*) { r->dataTransferLength = 4; })},
                {"ControlCdb", "control CDB needs C0 D1",
                 EditWrite(20, [](ScsiRequest* r, std::vector<uint8_t>*) { r->cdb[8] = 0; })},
                {"ControlCode", "unknown control code 6",
                 EditWrite(20, [](ScsiRequest* r, std::vector<uint8_t>*) { r->cdb[6] = 6; })},
                {"FrameDoneEarly", "frame-done after 12 of 20 slices",
                 [](HandHost& host, const std::vector<uint8_t>& frame) {
                     for (int slice = 0; slice < 12; ++slice) {
                         host.Write(SliceAddress(1, slice), RawSliceWrite(frame, slice, true));
                     }
                     host.Control(5);
                 }},
                {"FrameDoneWithoutSlices", "frame-done with no slice written",
                 [](HandHost& host, const std::vector<uint8_t>&) { host.Control(5); }},
                {"WriteOnDiskUnit", "this command belongs on the optical unit",
                 [](HandHost& host, const std::vector<uint8_t>& frame) {
                     std::vector<uint8_t> data = RawSliceWrite(frame, 0, true);
                     host.Send(host.disk, HandHost::WriteRequest(SliceAddress(0, 0), data));
                 }},
                {"UnknownOpcode", "unknown opcode 28",
                 [](HandHost& host, const std::vector<uint8_t>&) {
                     ScsiRequest request = HandHost::ControlRequest(1);
                     request.cdb[0] = 0x28;
                     host.Send(host.optical, request);
                 }},
};

class BadExchangeTest : public QuietTraces, public ::testing::WithParamInterface<BadExchange> {};

TEST_P(BadExchangeTest, IsReportedAndShowsNoFrame) {
    VirtualProjector projector;
    HandHost host(projector);
    std::vector<uint8_t> frame = NoiseFrame(4);
    GetParam().send(host, frame);
    emu::EmulatorReport report = projector.Report();
    std::string errors = AllErrors(projector);
    EXPECT_NE(errors.find(GetParam().expected), std::string::npos) << errors;
    EXPECT_TRUE(projector.LastFrame().empty());
    EXPECT_EQ(report.projectors[0].framesCompleted[0] + report.projectors[0].framesCompleted[1], 0);

    // Whatever went wrong, the next good frame is shown.
    ASSERT_EQ(host.SendRawFrame(frame, 1), 0u);
    EXPECT_EQ(projector.LastFrame(), frame);
}

INSTANTIATE_TEST_SUITE_P(Frames, BadExchangeTest, ::testing::ValuesIn(kBadExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandsTest, BadStatusReadsAreReported) {
    VirtualProjector projector;
    HandHost host(projector);
    uint8_t reply[84];
    struct Case {
        std::array<uint8_t, 16> cdb;
        uint32_t length;
        const char* expected;
    };
    const Case cases[] = {
        {{0xFD, 0, 0, 0, 0xC0, 0xFF, 0x40, 0, 0, 0, 1}, 4, "unknown microcontroller register 40"},
        {{0xFD, 0, 0, 0, 0xC0, 0xFF, 0x35, 1, 2, 0, 1}, 4, "power mode 2 is neither 0 nor 1"},
        {{0xFD, 0, 0, 0, 0xC0, 0xFF, 0x38, 1, 1, 0, 1}, 4, "register 38 is read-only"},
        {{0xFD, 0, 0, 0, 0xC0, 0xFF, 0x14, 0, 0, 0, 1}, 4, "asks for 1 answer bytes"},
        {{0xFD, 0, 0, 0, 0xC0, 0xA1}, 4, "reads 4 bytes of a 10-byte answer"},
        {{0xFD, 0, 0, 0, 0xC0, 0xA1}, 85, "the reply area holds 84"},
        {{0xFD, 0, 0, 0, 0xC0, 0xA1}, 0, "reads 0 bytes of a 10-byte answer"},  // no buffer
        {{0xFD, 0, 0, 0, 0xC1, 0xFF, 0x38, 0, 0, 0, 1}, 4, "expected C0"},
        {{0xFD, 0, 0, 0, 0xC0, 0x77}, 4, "unknown read 77"},
    };
    std::vector<uint8_t> big(85);
    for (const Case& c : cases) {
        host.Read(c.cdb,
                  c.length == 0             ? nullptr
                  : c.length > sizeof reply ? big.data()
                                            : reply,
                  c.length);
        std::string errors = AllErrors(projector);
        EXPECT_NE(errors.find(c.expected), std::string::npos) << c.expected << "\n" << errors;
    }
    // A link-speed query with the status read's fields.
    host.Read({0xFD, 0, 0, 0, 0xC0, 0xA5, 0, 0, 0, 0xA0, 0x04}, reply, 4);
    EXPECT_NE(AllErrors(projector).find("TargetId 3, expected 1"), std::string::npos);
    // A register read on the optical unit.
    ScsiRequest request{};
    const uint8_t cdb[16] = {0xFD, 0, 0, 0, 0xC0, 0xFF, 0x38, 0, 0, 0, 1};
    memcpy(request.cdb, cdb, 16);
    request.targetId = 3;
    request.senseInfoLength = 24;
    request.dataIn = SCSI_IOCTL_DATA_IN;
    request.dataTransferLength = 4;
    request.timeOutValue = 10;
    request.dataBuffer = reply;
    host.Send(host.optical, request);
    EXPECT_NE(AllErrors(projector).find("belongs on the disk unit"), std::string::npos);
    EXPECT_EQ(projector.Report().protocolErrorCount, std::size(cases) + 2);
}

using FaultsTest = QuietTraces;

TEST_F(FaultsTest, VanishAfterNCommandsFailsEverythingWith1167) {
    VirtualConfig config;
    config.vanishAfter = 3;
    VirtualProjector projector(config);
    HandHost host(projector);
    uint32_t link = 0;
    EXPECT_EQ(host.LinkSpeed(&link), 0u);
    EXPECT_EQ(host.Control(1), 0u);
    EXPECT_EQ(host.Control(1), 0u);
    EXPECT_EQ(host.Control(1), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(host.LinkSpeed(&link), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(projector.Report().vanished);
    std::string path;
    uint32_t error = 0;
    EXPECT_EQ(projector.GetDiskInterface(1, &path, &error), InterfaceLookup::EnumFailed);
    EXPECT_EQ(projector.ListVolumes().size(), 1u);
}

TEST_F(FaultsTest, VanishAtSliceStopsTheFrameThere) {
    VirtualProjector projector;
    projector.VanishAtSlice(7);
    HandHost host(projector);
    EXPECT_EQ(host.SendRawFrame(NoiseFrame(5), 0), ERROR_DEVICE_NOT_CONNECTED);
    std::vector<emu::CommandRecord> log = projector.CommandLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[7].result, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(host.Control(5), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(projector.LastFrame().empty());
}

TEST_F(FaultsTest, FailNextFailsExactlyThatManyCommandsWithTheCode) {
    VirtualProjector projector;
    HandHost host(projector);
    EXPECT_EQ(host.Control(1), 0u);
    projector.FailNext(2, 31);
    EXPECT_EQ(host.Control(1), 31u);
    EXPECT_EQ(host.Control(1), 31u);
    EXPECT_EQ(host.Control(1), 0u);
    EXPECT_EQ(projector.Report().projectors[0].openCommands, 2);

    VirtualConfig config;  // from the configuration: after the first command
    config.failNext = {1, 121, 1};
    VirtualProjector configured(config);
    HandHost other(configured);
    EXPECT_EQ(other.Control(1), 0u);
    EXPECT_EQ(other.Control(1), 121u);
    EXPECT_EQ(other.Control(1), 0u);
}

TEST_F(FaultsTest, FailReadsFailsOnlyTheDiskUnitsReadsCountedAmongThemselves) {
    VirtualConfig config;
    config.failReads = {2, 5, 1};  // the second and third read
    VirtualProjector projector(config);
    HandHost host(projector);
    uint32_t link = 0;
    uint8_t reply[4] = {};
    EXPECT_EQ(host.LinkSpeed(&link), 0u);
    EXPECT_EQ(host.Control(1), 0u);  // not a read: not counted, not failed
    EXPECT_EQ(host.ReadRegister(0x35, 1, reply), 5u);
    EXPECT_EQ(host.Control(1), 0u);
    EXPECT_EQ(host.ReadRegister(0x38, 1, reply), 5u);
    EXPECT_EQ(host.ReadRegister(0x38, 1, reply), 0u);
    EXPECT_EQ(projector.Report().projectors[0].openCommands, 2);
}

// The control file, written while commands flow: each new step applies once, counted from then.
TEST_F(FaultsTest, ControlFileStepsApplyOnceEachFromWhenTheyAreRead) {
    std::string path = TempPath("control_steps.txt");
    auto write = [&](const std::string& text) {
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(path, text.data(), text.size(), &error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // past the re-read
    };
    write("1 fault=1\n");
    VirtualConfig config;
    config.controlPath = path;
    VirtualProjector projector(config);
    HandHost host(projector);
    uint8_t fault[4] = {};  // the reply is read into four bytes
    EXPECT_EQ(host.ReadRegister(0x38, 1, fault), 0u);
    EXPECT_EQ(fault[0], 1);  // a step there at the start applies too

    write("2 fault=0,fail_next=2:31\n");
    EXPECT_EQ(host.Control(1), 31u);
    EXPECT_EQ(projector.Report().injectedPending, 1u);
    EXPECT_EQ(projector.Report().controlStep, 2u);
    EXPECT_EQ(host.Control(1), 31u);
    EXPECT_EQ(host.Control(1), 0u);
    EXPECT_EQ(host.ReadRegister(0x38, 1, fault), 0u);
    EXPECT_EQ(fault[0], 0);

    write("2 fail_next=5:31\n");  // the same step again: already applied
    EXPECT_EQ(host.Control(1), 0u);
    write("3 nonsense=1\n");
    EXPECT_EQ(host.Control(1), 0u);
    EXPECT_NE(AllErrors(projector).find("the control file: unknown option 'nonsense'"),
              std::string::npos);
    write("4 vanish_at_slice=0\n");
    EXPECT_EQ(host.SendRawFrame(NoiseFrame(1), 0), ERROR_DEVICE_NOT_CONNECTED);
}

// Frames stamped with the synthetic pattern are compared with the pattern frame they name.
TEST_F(FramesTest, StampedFramesAreCheckedAgainstThePattern) {
    VirtualProjector projector;
    HandHost host(projector);
    std::vector<uint8_t> frame(kFrameBytes);
    DrawSyntheticPattern(41, 854, 480, frame.data());
    ASSERT_EQ(host.SendRawFrame(frame, 0), 0u);
    frame[kFrameBytes - 1] ^= 1;  // one pixel off, in the last slice
    frame[3 * 854 * 200 + 5] ^= 0x80;
    ASSERT_EQ(host.SendRawFrame(frame, 1), 0u);
    ASSERT_EQ(host.SendRawFrame(NoiseFrame(3), 0), 0u);  // no stamp: not checked
    emu::EmulatorReport report = projector.Report();
    EXPECT_EQ(report.framesShown, 3u);
    EXPECT_EQ(report.pattern.frames, 2u);
    EXPECT_EQ(report.pattern.mismatched, 1u);
    EXPECT_EQ(report.pattern.pixelErrors, 2u);
}

TEST_F(FaultsTest, SimulatedLinkTakesAtLeastTheTransferTime) {
    VirtualProjector projector;
    projector.SetLinkDelay(emu::LinkDelay::Usb11);  // 1 MB/s: 4,136 bytes take 4.1 ms
    HandHost host(projector);
    std::vector<uint8_t> write = RawSliceWrite(NoiseFrame(6), 19, true);
    auto start = std::chrono::steady_clock::now();
    host.Write(SliceAddress(0, 19), write);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(4136));
    EXPECT_GE(projector.DeviceSeconds(), 4136e-6);
}

// The sender thread writes frames on the optical unit while the main thread polls the disk
// unit, as the program does; run under ThreadSanitizer this checks the locking.
TEST_F(FramesTest, FramesAndStatusPollsMayRunAtTheSameTime) {
    VirtualProjector projector;
    HandHost host(projector);
    std::vector<uint8_t> frame = NoiseFrame(7);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        for (int i = 0; i < 6; ++i) {
            host.SendRawFrame(frame, i % 2);
        }
        done = true;
    });
    int polls = 0;
    uint8_t reply[4];
    while (!done || polls < 10) {
        EXPECT_EQ(host.ReadRegister(0x38, 1, reply), 0u);
        host.WriteRegister(0x35, static_cast<uint8_t>(polls % 2));
        projector.Report();
        ++polls;
    }
    sender.join();
    emu::EmulatorReport report = projector.Report();
    EXPECT_EQ(report.protocolErrorCount, 0u) << AllErrors(projector);
    EXPECT_EQ(report.projectors[0].framesCompleted[0], 3);
    EXPECT_EQ(report.projectors[0].framesCompleted[1], 3);
}

}  // namespace
