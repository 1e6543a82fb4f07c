#include "device/service_batch.h"

#include <cstring>
#include <vector>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "tests/device/device_test_support.h"

namespace {

// The service's side of the channel over a recording projector, without the pipe: the
// records and answers are encoded and decoded as they would cross it.
struct ServiceLoop {
    explicit ServiceLoop(FakeDeviceBackend* projector)
        : section(SERVICE_SECTION_BYTES + PAGE_BYTES), readBuffer(PAGE_BYTES) {
        served.backend = projector;
        served.units[SERVICE_UNIT_DISK] = FakeDeviceBackend::HandleOf(2);
        served.units[SERVICE_UNIT_OPTICAL] = FakeDeviceBackend::HandleOf(1);
        served.readBuffer = readBuffer.data();
        served.lock = &lock;
    }

    // Page-aligned, as a mapped view is.
    uint8_t* Section() {
        auto address = reinterpret_cast<uintptr_t>(section.data());
        return section.data() + (PAGE_BYTES - address % PAGE_BYTES) % PAGE_BYTES;
    }

    static bool Exchange(void* context, const ServiceRequest* requests, uint32_t first,
                         uint32_t count, void* readInto, uint32_t* errors) {
        auto* loop = static_cast<ServiceLoop*>(context);
        ++loop->exchanges;
        std::vector<uint8_t> records(count * SERVICE_REQUEST_BYTES);
        for (uint32_t i = 0; i < count; ++i) {
            EncodeServiceRequest(requests[i], records.data() + i * SERVICE_REQUEST_BYTES);
        }
        uint8_t answer[SERVICE_ANSWER_MAX_BYTES];
        const uint32_t length =
            RunServiceBatch(loop->served, records.data(), count, first, loop->Section(), 0, answer);
        uint32_t replyAt = 4 + 4 * count;
        for (uint32_t i = 0; i < count; ++i) {
            errors[i] = GetServiceWord(answer + 4 + 4 * i);
            if (errors[i] == 0 && requests[i].dataIn == SCSI_IOCTL_DATA_IN) {
                if (i + 1 == count && readInto != nullptr) {
                    std::memcpy(readInto, answer + replyAt, requests[i].dataTransferLength);
                }
                replyAt += requests[i].dataTransferLength;
            }
        }
        EXPECT_EQ(replyAt, length);
        return true;
    }

    std::vector<uint8_t> section;
    std::vector<uint8_t> readBuffer;
    std::mutex lock;
    ServedUnits served;
    int exchanges = 0;
};

// The agent's backend made of the batching rules and the service loop; only its requests
// matter here.
class BatchedBackend : public FakeDeviceBackend {
  public:
    explicit BatchedBackend(FakeDeviceBackend* projector) : loop(projector) {}

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        const uint8_t id =
            unit == FakeDeviceBackend::HandleOf(1) ? SERVICE_UNIT_OPTICAL : SERVICE_UNIT_DISK;
        bool lost = false;
        const uint32_t result =
            SendThroughBatch(&held, loop.Section(), ToServiceRequest(id, request), request,
                             ServiceLoop::Exchange, &loop, &lost);
        if (++calls == readAfterCall) {
            EXPECT_EQ(scsi_cmd_read_link_speed(), 0);
        }
        return result;
    }
    void BeginFrame() override { BeginHeldFrame(&held); }
    void EndFrame() override { EndHeldFrame(&held); }

    ServiceLoop loop;
    HeldWrites held;
    int calls = 0;
    int readAfterCall = 0;  // the status poll's read comes after this call
};

std::vector<uint8_t> Noise(uint32_t seed) {
    std::vector<uint8_t> frame(FRAME_BYTES);
    for (uint8_t& byte : frame) {
        seed = seed * 1103515245 + 12345;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    return frame;
}

void ExpectSameCommands(const FakeDeviceBackend& direct, const FakeDeviceBackend& batched) {
    ASSERT_EQ(direct.commands.size(), batched.commands.size());
    for (size_t i = 0; i < direct.commands.size(); ++i) {
        const RecordedCommand& a = direct.commands[i];
        const RecordedCommand& b = batched.commands[i];
        EXPECT_EQ(a.unit, b.unit) << i;
        EXPECT_EQ(CdbOf(a), CdbOf(b)) << i;
        EXPECT_EQ(a.request.dataTransferLength, b.request.dataTransferLength) << i;
        EXPECT_TRUE(a.dataOut == b.dataOut) << i;
    }
}

class ServiceBatchTest : public OpenUnitsTest {
  protected:
    void TearDown() override {
        SetFrameCancelCheck(nullptr);
        OpenUnitsTest::TearDown();
    }
};

using Sender = int (*)(const uint8_t*);

// Whichever command of a frame fails, and however, the frame returns what it returns in
// process and the projector has got the same commands with the same bytes; the next frame
// then goes as in process too.
TEST_F(ServiceBatchTest, AFailureAnywhereInAFrameEndsItAsInProcess) {
    const std::vector<uint8_t> first = Noise(1);
    const std::vector<uint8_t> second = Noise(2);
    for (Sender send : {&SendFrameRaw, &SendFrameCompressed}) {
        for (uint32_t error : {uint32_t{ERROR_DEVICE_NOT_CONNECTED}, uint32_t{31}}) {
            for (size_t failing = 0; failing <= SLICES_PER_FRAME + 1; ++failing) {
                SCOPED_TRACE(testing::Message() << "command " << failing << ", error " << error
                                                << (send == &SendFrameRaw ? ", raw" : ""));
                FakeDeviceBackend direct;
                direct.failCommand[failing] = error;
                g_pDeviceBackend = &direct;
                g_bFrameToggle = 1;
                const int directFirst = send(first.data());
                g_bFrameToggle = 0;
                const int directSecond = send(second.data());

                FakeDeviceBackend projector;
                projector.failCommand[failing] = error;
                BatchedBackend batched(&projector);
                g_pDeviceBackend = &batched;
                g_bFrameToggle = 1;
                EXPECT_EQ(send(first.data()), directFirst);
                g_bFrameToggle = 0;
                EXPECT_EQ(send(second.data()), directSecond);
                ExpectSameCommands(direct, projector);
            }
        }
    }
}

TEST_F(ServiceBatchTest, AFrameCrossesInOneExchangeAndARequestBetweenItsSlicesCrossesAlone) {
    const std::vector<uint8_t> frame = Noise(3);
    FakeDeviceBackend projector;
    projector.replies[FakeDeviceBackend::HandleOf(2)] = {0x00, 0x00, 0x00, 0x30};
    BatchedBackend batched(&projector);
    g_pDeviceBackend = &batched;
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    EXPECT_EQ(batched.loop.exchanges, 1);
    EXPECT_EQ(projector.commands.size(), SLICES_PER_FRAME + 1);

    // Between the last slice and the frame-done, which crossed with it already.
    batched.readAfterCall = batched.calls + SLICES_PER_FRAME;
    g_USB3_0 = 0;
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    EXPECT_EQ(g_USB3_0, 0x30u);
    EXPECT_EQ(batched.loop.exchanges, 3);
    EXPECT_EQ(projector.commands.size(), 2 * (SLICES_PER_FRAME + 1) + 1);
    projector.commands.clear();
    batched.loop.exchanges = 0;

    // The status poll's read, made while slices are held, takes its reply and leaves them be.
    static int slices;
    slices = 0;
    SetFrameCancelCheck([] {
        if (++slices == 4) {
            EXPECT_EQ(scsi_cmd_read_link_speed(), 0);
        }
        return false;
    });
    g_USB3_0 = 0;
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    EXPECT_EQ(g_USB3_0, 0x30u);
    EXPECT_EQ(batched.loop.exchanges, 2);
    SetFrameCancelCheck(nullptr);
    FakeDeviceBackend direct;
    g_pDeviceBackend = &direct;
    SendFrameRaw(frame.data());
    projector.commands.erase(projector.commands.begin());
    ExpectSameCommands(direct, projector);
}

// A frame abandoned mid-way had its first slices written in process: they reach the projector
// before the next frame's, whose writes are held as ever.
TEST_F(ServiceBatchTest, AnAbandonedFramesWritesGoBeforeTheNextFrame) {
    const std::vector<uint8_t> frame = Noise(4);
    static int checks;
    SetFrameCancelCheck([] { return ++checks == 6; });
    FakeDeviceBackend direct;
    g_pDeviceBackend = &direct;
    checks = 0;
    EXPECT_EQ(SendFrameCompressed(frame.data()), -1);
    EXPECT_EQ(SendFrameCompressed(frame.data()), 0);

    FakeDeviceBackend projector;
    BatchedBackend batched(&projector);
    g_pDeviceBackend = &batched;
    checks = 0;
    EXPECT_EQ(SendFrameCompressed(frame.data()), -1);
    EXPECT_EQ(projector.commands.size(), 0u);
    EXPECT_EQ(SendFrameCompressed(frame.data()), 0);
    EXPECT_EQ(batched.loop.exchanges, 2);
    ExpectSameCommands(direct, projector);
}

ServiceRequest Recorded(const RecordedCommand& command) {
    return ToServiceRequest(
        command.unit == FakeDeviceBackend::HandleOf(1) ? SERVICE_UNIT_OPTICAL : SERVICE_UNIT_DISK,
        command.request);
}

// The service's side alone: a refused request ends its batch as a failure does, reads'
// replies follow the results in order, and a write's data comes from its own slot.
TEST_F(ServiceBatchTest, TheServiceRunsABatchUpToItsFirstRefusalOrFailure) {
    FakeDeviceBackend source;
    g_pDeviceBackend = &source;
    source.replies[g_hDisk2] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    uint8_t firmware[FIRMWARE_INFO_BYTES];
    scsi_cmd_read_link_speed();
    getDriverLessFirmInfo(firmware);
    std::vector<uint8_t> slice(SLICE_WRITE_BYTES, 0x5A);
    scsi_cmd_write_driverless(g_hDisk1, slice.data(), SLICE_WRITE_BYTES, BANK0_BASE + SLICE_BYTES);
    ASSERT_EQ(source.commands.size(), 3u);
    ServiceRequest link = Recorded(source.commands[0]);
    ServiceRequest firmwareRead = Recorded(source.commands[1]);
    ServiceRequest write = Recorded(source.commands[2]);
    ServiceRequest foreign = link;
    foreign.cdb[0] = 0x28;

    FakeDeviceBackend projector;
    projector.replies[g_hDisk2] = source.replies[g_hDisk2];
    ServiceLoop loop(&projector);
    std::memset(loop.Section() + 3 * SERVICE_SLOT_BYTES, 0x5A, SLICE_WRITE_BYTES);
    std::vector<uint8_t> records(5 * SERVICE_REQUEST_BYTES);
    const ServiceRequest batch[] = {link, write, firmwareRead, foreign, link};
    for (int i = 0; i < 5; ++i) {
        EncodeServiceRequest(batch[i], records.data() + i * SERVICE_REQUEST_BYTES);
    }
    uint8_t answer[SERVICE_ANSWER_MAX_BYTES];
    const uint32_t length = RunServiceBatch(loop.served, records.data(), 5, 2, loop.Section(),
                                            SERVICE_FLAG_CLOSE, answer);
    const uint32_t expected[] = {SERVICE_FLAG_CLOSE, 0, 0, 0, SERVICE_REFUSED, SERVICE_NOT_SENT};
    for (int word = 0; word < 6; ++word) {
        EXPECT_EQ(GetServiceWord(answer + 4 * word), expected[word]) << word;
    }
    ASSERT_EQ(length, 24u + 4 + 10);
    EXPECT_EQ(std::vector<uint8_t>(answer + 24, answer + length),
              std::vector<uint8_t>({1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_EQ(projector.commands.size(), 3u);
    EXPECT_TRUE(projector.commands[1].dataOut == slice);
    EXPECT_NE(Traces().find("vorn_kvusb_service: refused a request, not a status or control "
                            "read of the disk unit: unit 1, CDB 28 "),
              std::string::npos);
}

// What the unit's adapter cannot take in one request does not reach it: a whole raw slice
// fits a 64 KiB adapter, the codec's longest unit does not.
TEST_F(ServiceBatchTest, TheServiceRefusesWritesBeyondTheAdaptersLimits) {
    FakeDeviceBackend projector;
    ServiceLoop loop(&projector);
    loop.served.limitsStated[SERVICE_UNIT_OPTICAL] = true;
    loop.served.limits[SERVICE_UNIT_OPTICAL] = {511, 65536, 17};
    uint8_t records[SERVICE_REQUEST_BYTES];
    uint8_t answer[SERVICE_ANSWER_MAX_BYTES];
    FakeDeviceBackend source;
    g_pDeviceBackend = &source;
    std::vector<uint8_t> data(TRANSFER_BUFFER_BYTES);
    for (uint32_t length : {SLICE_WRITE_BYTES, TRANSFER_BUFFER_BYTES}) {
        scsi_cmd_write_driverless(g_hDisk1, data.data(), length, BANK1_BASE + SLICE_BYTES);
        EncodeServiceRequest(Recorded(source.commands.back()), records);
        RunServiceBatch(loop.served, records, 1, SERVICE_BATCH_MAX - 1, loop.Section(), 0, answer);
        EXPECT_EQ(GetServiceWord(answer + 4), length == SLICE_WRITE_BYTES ? 0u : SERVICE_REFUSED);
    }
    EXPECT_EQ(projector.commands.size(), 1u);
    EXPECT_NE(Traces().find("more than the unit's adapter takes in one request"),
              std::string::npos);
}

}  // namespace
