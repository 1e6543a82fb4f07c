#include "device/service_channel.h"

#include <cstring>
#include <vector>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "tests/device/device_test_support.h"

namespace {

// What the service must let through is what the projector's own code sends: each test runs
// that code against the recording backend and takes the requests it made.
class ServiceChannelTest : public OpenUnitsTest {
  protected:
    std::vector<ServiceRequest> Sent() const {
        std::vector<ServiceRequest> sent;
        for (const RecordedCommand& command : fake.commands) {
            uint8_t unit = command.unit == g_hDisk1 ? SERVICE_UNIT_OPTICAL : SERVICE_UNIT_DISK;
            sent.push_back(ToServiceRequest(unit, command.request));
        }
        return sent;
    }

    // Every request the status and control operations, start-up and both senders make, on both
    // banks, with a frame that compresses well and one that does not.
    std::vector<ServiceRequest> EveryProjectorRequest() {
        uint8_t out[FIRMWARE_INFO_BYTES];
        scsi_cmd_read_link_speed();
        ReadDevFaultStatus();
        GetDevPowerMode();
        SetDevPowerMode(POWER_MODE_AUTO);
        SetDevPowerMode(POWER_MODE_ECO);
        GetMCUFirmInfo(out);
        getDriverLessFirmInfo(out);
        scsi_cmd_control_driverless(g_hDisk1, CTRL_OPEN);
        std::vector<uint8_t> black(FRAME_BYTES, 0);
        std::vector<uint8_t> noise(FRAME_BYTES);
        uint32_t state = 12345;
        for (uint8_t& byte : noise) {
            state = state * 1103515245 + 12345;
            byte = static_cast<uint8_t>(state >> 16);
        }
        for (int bank : {0, 1}) {
            g_bFrameToggle = bank;
            SendFrameRaw(noise.data());
            SendFrameCompressed(black.data());
            SendFrameCompressed(noise.data());
        }
        return Sent();
    }
};

bool Allowed(const ServiceRequest& request) {
    const char* reason = nullptr;
    return IsProjectorRequest(request, &reason);
}

TEST_F(ServiceChannelTest, EveryRequestTheProjectorsCodeSendsIsAllowedAndCrossesTheWireWhole) {
    std::vector<ServiceRequest> requests = EveryProjectorRequest();
    // 7 reads, the open command, and 6 frames of 20 writes and a frame-done each.
    ASSERT_EQ(requests.size(), 7u + 1u + 6u * 21u);
    for (const ServiceRequest& request : requests) {
        const char* reason = "";
        EXPECT_TRUE(IsProjectorRequest(request, &reason)) << reason;
        uint8_t wire[SERVICE_REQUEST_BYTES];
        EncodeServiceRequest(request, wire);
        ServiceRequest back = DecodeServiceRequest(wire);
        EXPECT_EQ(std::memcmp(&back, &request, sizeof request), 0);
    }
}

// One field off in any request the projector's code makes is a request the service refuses:
// another unit, another target, sense length, direction, timeout or length, any CDB byte.
TEST_F(ServiceChannelTest, ARequestOneFieldAwayFromTheProjectorsOwnIsRefused) {
    for (ServiceRequest request : EveryProjectorRequest()) {
        ServiceRequest other = request;
        other.unit ^= SERVICE_UNIT_DISK | SERVICE_UNIT_OPTICAL;
        EXPECT_FALSE(Allowed(other));
        for (uint8_t ServiceRequest::*field :
             {&ServiceRequest::targetId, &ServiceRequest::senseInfoLength,
              &ServiceRequest::dataIn}) {
            other = request;
            other.*field += 1;
            EXPECT_FALSE(Allowed(other));
        }
        other = request;
        other.timeOutValue += 1;
        EXPECT_FALSE(Allowed(other));
        other = request;
        other.dataTransferLength += 1;
        EXPECT_FALSE(Allowed(other));
        for (size_t byte = 0; byte < sizeof request.cdb; ++byte) {
            other = request;
            other.cdb[byte] ^= 0x02;
            EXPECT_FALSE(Allowed(other)) << "CDB byte " << byte;
        }
    }
}

ServiceRequest SliceWrite(uint32_t address, uint32_t length) {
    ScsiRequest scsi{};
    Cdb cdb = BuildWriteCdb(address);
    std::memcpy(scsi.cdb, cdb.data(), cdb.size());
    scsi.targetId = 1;
    scsi.senseInfoLength = 32;
    scsi.dataIn = SCSI_IOCTL_DATA_OUT;
    scsi.dataTransferLength = length;
    scsi.timeOutValue = STREAM_TIMEOUT_SECONDS;
    return ToServiceRequest(SERVICE_UNIT_OPTICAL, scsi);
}

TEST_F(ServiceChannelTest, SliceWritesStayInsideTheBanksSlicesAndTheStagingBuffersLength) {
    for (uint32_t base : {BANK0_BASE, BANK1_BASE}) {
        EXPECT_FALSE(Allowed(SliceWrite(base, SLICE_WRITE_BYTES)));  // never written
        EXPECT_TRUE(Allowed(SliceWrite(base + SLICE_BYTES, SLICE_WRITE_BYTES)));
        EXPECT_TRUE(Allowed(SliceWrite(base + 19 * SLICE_BYTES, 108)));
        EXPECT_FALSE(Allowed(SliceWrite(base + 19 * SLICE_BYTES, 104)));
        EXPECT_TRUE(Allowed(SliceWrite(base + 19 * SLICE_BYTES, TRANSFER_BUFFER_BYTES)));
        EXPECT_FALSE(Allowed(SliceWrite(base + 19 * SLICE_BYTES, TRANSFER_BUFFER_BYTES + 4)));
        // The last slice comes whole, with its lead-in or without.
        EXPECT_TRUE(Allowed(SliceWrite(base + 20 * SLICE_BYTES, 4136)));
        EXPECT_TRUE(Allowed(SliceWrite(base + 20 * SLICE_BYTES, 4072)));
        EXPECT_FALSE(Allowed(SliceWrite(base + 20 * SLICE_BYTES, 4132)));
        EXPECT_FALSE(Allowed(SliceWrite(base + 20 * SLICE_BYTES, SLICE_WRITE_BYTES)));
        EXPECT_FALSE(Allowed(SliceWrite(base + 21 * SLICE_BYTES, 4136)));
    }
    // Between the banks, and the disk's own blocks.
    EXPECT_FALSE(Allowed(SliceWrite(BANK0_BASE + 22 * SLICE_BYTES, SLICE_WRITE_BYTES)));
    EXPECT_FALSE(Allowed(SliceWrite(0, SLICE_WRITE_BYTES)));
    EXPECT_FALSE(Allowed(SliceWrite(SLICE_BYTES, SLICE_WRITE_BYTES)));
}

// The commands a standard user must not reach a disk with, on either unit.
TEST_F(ServiceChannelTest, StandardCommandsAndUnknownUnitsAreRefusedWithAReason) {
    const uint8_t standard[] = {0x00, 0x12, 0x1B, 0x25, 0x28, 0x2A, 0x35, 0x55, 0x88, 0x8A};
    for (uint8_t unit : {uint8_t{0}, SERVICE_UNIT_DISK, SERVICE_UNIT_OPTICAL, uint8_t{3}}) {
        for (uint8_t opcode : standard) {
            ServiceRequest request = SliceWrite(BANK0_BASE + SLICE_BYTES, 512);
            request.unit = unit;
            request.cdb[0] = opcode;
            const char* reason = nullptr;
            EXPECT_FALSE(IsProjectorRequest(request, &reason));
            EXPECT_NE(reason, nullptr);
        }
    }
}

// A path that would fill its field is cut so that the field still ends in a zero: a client
// never reads past it. The section's handle keeps its high half.
TEST(ServiceHelloTest, PathsHandleAndLimitsTravelInTheirFieldsAndALongPathIsCut) {
    ServiceHello hello;
    hello.word = SERVICE_WELCOME;
    hello.paths[0] = "\\\\?\\usbstor#disk";
    hello.paths[1] = std::string(SERVICE_PATH_CHARS + 10, 'p');
    hello.section = 0x123456789ABCull;
    hello.limitsStated[1] = true;
    hello.limits[1] = {511, 65536, 17};
    uint8_t wire[SERVICE_HELLO_BYTES];
    EncodeServiceHello(hello, wire);
    EXPECT_EQ(wire[SERVICE_HELLO_BYTES - 1], 0);  // the last field's high byte: 17 fits
    EXPECT_EQ(wire[SERVICE_HELLO_BYTES - 4], 17);
    ServiceHello back = DecodeServiceHello(wire);
    EXPECT_EQ(back.word, SERVICE_WELCOME);
    EXPECT_EQ(back.paths[0], hello.paths[0]);
    EXPECT_EQ(back.paths[1], hello.paths[1].substr(0, SERVICE_PATH_CHARS - 1));
    EXPECT_EQ(back.section, hello.section);
    EXPECT_FALSE(back.limitsStated[0]);
    EXPECT_TRUE(back.limitsStated[1]);
    EXPECT_EQ(back.limits[1].alignmentMask, 511u);
    EXPECT_EQ(back.limits[1].maximumTransferLength, 65536u);
    EXPECT_EQ(back.limits[1].maximumPhysicalPages, 17u);
    // A hostile service's paths with no zero in them are still cut at their field.
    std::memset(wire + 4, 'x', 2 * SERVICE_PATH_CHARS);
    back = DecodeServiceHello(wire);
    EXPECT_EQ(back.paths[0].size(), SERVICE_PATH_CHARS - 1);
    EXPECT_EQ(back.paths[1].size(), SERVICE_PATH_CHARS - 1);
}

// A header is all that tells the service where a batch's data is: it never names a slot past
// the section, whatever the words, wrapping included.
TEST(ServiceBatchHeaderTest, OnlyBatchesWithinTheSectionsSlotsFit) {
    EXPECT_FALSE(BatchFitsSection(0, 0));
    EXPECT_TRUE(BatchFitsSection(1, 0));
    EXPECT_TRUE(BatchFitsSection(SERVICE_BATCH_MAX, 0));
    EXPECT_FALSE(BatchFitsSection(SERVICE_BATCH_MAX + 1, 0));
    EXPECT_TRUE(BatchFitsSection(1, SERVICE_BATCH_MAX - 1));
    EXPECT_FALSE(BatchFitsSection(1, SERVICE_BATCH_MAX));
    EXPECT_FALSE(BatchFitsSection(2, SERVICE_BATCH_MAX - 1));
    EXPECT_FALSE(BatchFitsSection(2, 0xFFFFFFFFu));
    EXPECT_FALSE(BatchFitsSection(0xFFFFFFFFu, 2));
    static_assert(SERVICE_SECTION_BYTES == SERVICE_BATCH_MAX * SERVICE_SLOT_BYTES);
}

}  // namespace
