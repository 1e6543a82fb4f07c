#include "device/frame_transfer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/frame_decoder.h"
#include "device/device_discovery.h"
#include "device/scsi_commands.h"
#include "tests/device/device_test_support.h"

namespace {

constexpr size_t FULL_SLICES = 19;
constexpr size_t LAST_SLICE_BYTES = FRAME_BYTES - FULL_SLICES * SLICE_BYTES;  // 4,032

const std::vector<uint8_t> RAW_FULL_HEADER =
    Bytes("FB 14 00 00 00 00 00 00 00 04 15 00 00 FC 00 00 01 00 00 DB");
const std::vector<uint8_t> RAW_LAST_HEADER =
    Bytes("FB 14 00 00 00 00 00 00 2A 00 20 00 C0 0F 00 00 01 00 00 D7");
const std::vector<uint8_t> END_MARKER =
    Bytes("FB 14 02 20 00 00 00 00 00 00 00 00 00 00 00 00 80 00 00 4F");

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    return {bytes.begin() + static_cast<ptrdiff_t>(offset),
            bytes.begin() + static_cast<ptrdiff_t>(offset + length)};
}

std::vector<uint8_t> PatternFrame() {
    std::vector<uint8_t> frame(FRAME_BYTES);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    }
    return frame;
}

// A desktop-like frame: the 256 x 96 desktop crop tiled over 854 x 480.
std::vector<uint8_t> DesktopFrame() {
    std::ifstream in(KV_TEST_DATA_DIR "/desktop_crop.ppm", std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int maxValue = 0;
    in >> magic >> width >> height >> maxValue;
    in.get();
    std::vector<uint8_t> crop((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    EXPECT_EQ(crop.size(), size_t(width * height * 3));
    std::vector<uint8_t> frame(FRAME_BYTES);
    for (size_t y = 0; y < 480; ++y) {
        for (size_t x = 0; x < 854; ++x) {
            const uint8_t* pixel = &crop[((y % height) * width + x % width) * 3];
            std::copy(pixel, pixel + 3, &frame[(y * 854 + x) * 3]);
        }
    }
    return frame;
}

class FrameTransferTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        g_hDisk1 = FakeDeviceBackend::HandleOf(1);
        BuildEndMarker();
    }

    uint32_t AddressOf(size_t command) const {
        std::vector<uint8_t> cdb = CdbOf(fake.commands[command]);
        return uint32_t{cdb[4]} | uint32_t{cdb[5]} << 8 | uint32_t{cdb[6]} << 16 |
               uint32_t{cdb[7]} << 24;
    }

    // Every write on the optical unit, each closed by the end marker, then one frame-done.
    void ExpectFrameShape(uint32_t bankBase) {
        ASSERT_EQ(fake.commands.size(), FULL_SLICES + 2);
        for (size_t k = 0; k <= FULL_SLICES; ++k) {
            const RecordedCommand& write = fake.commands[k];
            EXPECT_EQ(write.unit, g_hDisk1);
            EXPECT_EQ(write.request.cdb[0], 0xFF);
            EXPECT_EQ(AddressOf(k), bankBase + (k + 1) * SLICE_BYTES) << "slice " << k;
            ASSERT_GE(write.dataOut.size(), END_MARKER.size());
            EXPECT_EQ(Slice(write.dataOut, write.dataOut.size() - 20, 20), END_MARKER)
                << "slice " << k;
        }
        const RecordedCommand& done = fake.commands.back();
        EXPECT_EQ(done.unit, g_hDisk1);
        EXPECT_EQ(CdbOf(done), Bytes("FE 00 00 00 C0 D1 05 00 40 00 01 00 00 00 00 00"));
    }
};

TEST_F(FrameTransferTest, HeadersAndEndMarkerByteForByte) {
    EXPECT_EQ(std::vector<uint8_t>(g_EndMarker, g_EndMarker + 20), END_MARKER);
    uint8_t header[20];
    BuildSliceHeader(header, 1024, 21, SLICE_BYTES);
    EXPECT_EQ(std::vector<uint8_t>(header, header + 20), RAW_FULL_HEADER);
    BuildSliceHeader(header, 42, 32, 4032);
    EXPECT_EQ(std::vector<uint8_t>(header, header + 20), RAW_LAST_HEADER);
}

TEST_F(FrameTransferTest, RawFrameIsTwentySlicesIntoBankZero) {
    std::vector<uint8_t> frame = PatternFrame();
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    ExpectFrameShape(BANK0_BASE);
    EXPECT_EQ(AddressOf(0), 0x8000FC00u);
    EXPECT_EQ(AddressOf(18), 0x8012B400u);
    EXPECT_EQ(AddressOf(19), 0x8013B000u);

    size_t wireBytes = 0;
    for (size_t k = 0; k < FULL_SLICES; ++k) {
        const std::vector<uint8_t>& data = fake.commands[k].dataOut;
        ASSERT_EQ(data.size(), 64616u);
        EXPECT_EQ(Slice(data, 0, 64), std::vector<uint8_t>(64)) << "slice " << k;
        EXPECT_EQ(Slice(data, 64, 20), RAW_FULL_HEADER) << "slice " << k;
        EXPECT_EQ(Slice(data, 84, SLICE_BYTES), Slice(frame, k * SLICE_BYTES, SLICE_BYTES));
        wireBytes += data.size();
    }
    const std::vector<uint8_t>& last = fake.commands[FULL_SLICES].dataOut;
    ASSERT_EQ(last.size(), 4136u);
    EXPECT_EQ(Slice(last, 0, 64), std::vector<uint8_t>(64));
    EXPECT_EQ(Slice(last, 64, 20), RAW_LAST_HEADER);
    EXPECT_EQ(Slice(last, 84, LAST_SLICE_BYTES),
              Slice(frame, FULL_SLICES * SLICE_BYTES, LAST_SLICE_BYTES));
    wireBytes += last.size();
    EXPECT_EQ(wireBytes, 1231840u);
}

TEST_F(FrameTransferTest, ToggleSelectsBankOne) {
    g_bFrameToggle = 1;
    std::vector<uint8_t> frame = PatternFrame();
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    ExpectFrameShape(BANK1_BASE);
    EXPECT_EQ(AddressOf(0), 0x8080FC00u);
    EXPECT_EQ(AddressOf(19), 0x8093B000u);
}

TEST_F(FrameTransferTest, CompressedFrameShipsTheCodecUnitsThatDecodeToTheFrame) {
    g_bFrameToggle = 1;
    std::vector<uint8_t> frame = DesktopFrame();
    EXPECT_EQ(SendFrameCompressed(frame.data()), 0);
    ExpectFrameShape(BANK1_BASE);

    for (size_t k = 0; k < FULL_SLICES; ++k) {
        const std::vector<uint8_t>& data = fake.commands[k].dataOut;
        EXPECT_EQ(Slice(data, 0, 64), std::vector<uint8_t>(64)) << "slice " << k;
        EXPECT_EQ(Slice(data, 64, 12), Bytes("FB 14 00 10 00 00 00 00 00 44 15 00"));
        EXPECT_EQ(Slice(data, 80, 3), Bytes("31 00 04"));
        // The unit between lead-in and end marker is what the codec wrote.
        std::vector<uint8_t> unit = Slice(data, 64, data.size() - 84);
        EXPECT_EQ(unit.size() % 4, 0u);
        DecodedRegion region;
        ASSERT_EQ(DecodeFrame(unit.data(), unit.size(), DecodeOptions{}, &region), DECODE_OK)
            << "slice " << k;
        EXPECT_EQ(region.pixels, Slice(frame, k * SLICE_BYTES, SLICE_BYTES)) << "slice " << k;
    }
    // The last slice is raw and has no lead-in.
    const std::vector<uint8_t>& last = fake.commands[FULL_SLICES].dataOut;
    ASSERT_EQ(last.size(), 4072u);
    EXPECT_EQ(Slice(last, 0, 20), RAW_LAST_HEADER);
    EXPECT_EQ(Slice(last, 20, LAST_SLICE_BYTES),
              Slice(frame, FULL_SLICES * SLICE_BYTES, LAST_SLICE_BYTES));
}

TEST_F(FrameTransferTest, StagingBufferHoldsTheCodecsWorstCase) {
    FrameCodecParams params = CompressedSliceParams();
    size_t worst = MaxEncodedLength(params);
    ASSERT_GT(worst, 0u);
    EXPECT_LE(LEAD_IN_BYTES + worst + END_MARKER_BYTES, TRANSFER_BUFFER_BYTES);
}

TEST_F(FrameTransferTest, UnpluggedProjectorAtSliceSevenEndsTheFrameThere) {
    std::vector<uint8_t> frame = PatternFrame();
    for (auto send : {SendFrameRaw, SendFrameCompressed}) {
        fake.commands.clear();
        fake.failCommand = {{7, ERROR_DEVICE_NOT_CONNECTED}};
        EXPECT_EQ(send(frame.data()), 1167);
        ASSERT_EQ(fake.commands.size(), 8u);
        EXPECT_EQ(AddressOf(7), BANK0_BASE + 8 * SLICE_BYTES);
    }
    EXPECT_EQ(Traces(), "");
}

TEST_F(FrameTransferTest, OtherWriteFailureGivesMinusOne) {
    std::vector<uint8_t> frame = PatternFrame();
    for (auto send : {SendFrameRaw, SendFrameCompressed}) {
        fake.commands.clear();
        ClearTraces();
        fake.failCommand = {{19, 31}};
        EXPECT_EQ(send(frame.data()), -1);
        EXPECT_EQ(fake.commands.size(), 20u);  // no frame-done after a failed last slice
        EXPECT_EQ(Traces(), "SCSI Error: 31  ");
    }
}

TEST_F(FrameTransferTest, FailingFrameDoneCountsOnlyForTheRawSender) {
    std::vector<uint8_t> frame = PatternFrame();
    fake.failCommand = {{20, ERROR_DEVICE_NOT_CONNECTED}};
    EXPECT_EQ(SendFrameRaw(frame.data()), 1167);
    fake.commands.clear();
    fake.failCommand = {{20, 31}};
    EXPECT_EQ(SendFrameRaw(frame.data()), -1);

    for (uint32_t error : {ERROR_DEVICE_NOT_CONNECTED, uint32_t{31}}) {
        fake.commands.clear();
        fake.failCommand = {{20, error}};
        EXPECT_EQ(SendFrameCompressed(frame.data()), 0);
        EXPECT_EQ(fake.commands.size(), 21u);
    }
}

// One step of a scripted stream: the frame given to a sender (nullptr: the last one again,
// as a source that knows nothing changed says), and a write that fails, if any.
struct StreamStep {
    const std::vector<uint8_t>* frame;
    bool compress;
    std::map<size_t, uint32_t> failures;  // write index within the step -> error
};

// Each step's commands, op code to data, in order; the bank alternates from step to step.
// Without reuse, every step is sent right after the bitwise inverse of its frame, which
// differs in every byte, so nothing kept from before can stand in for the codec.
std::vector<std::vector<RecordedCommand>> SendStream(FakeDeviceBackend& fake,
                                                     const std::vector<StreamStep>& steps,
                                                     bool reuse) {
    std::vector<std::vector<RecordedCommand>> sent;
    const std::vector<uint8_t>* last = nullptr;
    for (size_t i = 0; i < steps.size(); ++i) {
        const StreamStep& step = steps[i];
        const std::vector<uint8_t>* frame = step.frame != nullptr ? step.frame : last;
        if (!reuse) {
            std::vector<uint8_t> inverse(*frame);
            for (uint8_t& byte : inverse) {
                byte = static_cast<uint8_t>(~byte);
            }
            SendFrameCompressed(inverse.data());
        }
        fake.commands.clear();
        fake.failCommand = step.failures;
        g_bFrameToggle = static_cast<int>(i % 2);
        const uint8_t* given = reuse && step.frame == nullptr ? nullptr : frame->data();
        EXPECT_EQ(step.compress ? SendFrameCompressed(given) : SendFrameRaw(given),
                  step.failures.empty() ? 0 : -1)
            << "step " << i;
        fake.failCommand.clear();
        sent.push_back(fake.commands);
        last = frame;
    }
    return sent;
}

TEST_F(FrameTransferTest, ReusedSlicesPutTheSameBytesOnTheWireAsEncodingAgain) {
    std::vector<uint8_t> desktop = DesktopFrame();
    // A few rows drawn over in the middle of the frame, and a pixel of the raw last slice.
    std::vector<uint8_t> edited = desktop;
    for (size_t row = 200; row < 212; ++row) {
        for (size_t x = 300; x < 420; ++x) {
            edited[(row * 854 + x) * 3 + 1] ^= 0x5A;
        }
    }
    edited[FRAME_BYTES - 7] ^= 0x01;
    std::vector<uint8_t> pattern = PatternFrame();
    const std::vector<StreamStep> steps = {
        {&desktop, true, {}},       {nullptr, true, {}},  {&desktop, true, {}},
        {&edited, true, {}},        {nullptr, true, {}},  {&pattern, true, {}},
        {&edited, false, {}},       {nullptr, false, {}}, {&desktop, true, {}},
        {&edited, true, {{7, 31}}}, {nullptr, true, {}},  {&desktop, false, {{3, 31}}},
        {nullptr, true, {}},        {&pattern, true, {}},
    };
    // The frame each step shows.
    std::vector<const std::vector<uint8_t>*> shown;
    for (const StreamStep& step : steps) {
        shown.push_back(step.frame != nullptr ? step.frame : shown.back());
    }
    std::vector<std::vector<RecordedCommand>> reused = SendStream(fake, steps, true);
    std::vector<std::vector<RecordedCommand>> encoded = SendStream(fake, steps, false);
    ASSERT_EQ(reused.size(), encoded.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        ASSERT_EQ(reused[i].size(), encoded[i].size()) << "step " << i;
        EXPECT_EQ(reused[i].size(), steps[i].failures.empty()
                                        ? FULL_SLICES + 2
                                        : steps[i].failures.begin()->first + 1);
        for (size_t k = 0; k < reused[i].size(); ++k) {
            EXPECT_EQ(CdbOf(reused[i][k]), CdbOf(encoded[i][k]))
                << "step " << i << " command " << k;
            EXPECT_TRUE(reused[i][k].dataOut == encoded[i][k].dataOut)
                << "step " << i << " command " << k;
        }
        // And what both sent is the step's frame, whatever either kept.
        const std::vector<uint8_t>& frame = *shown[i];
        for (size_t k = 0; k < std::min(reused[i].size(), FULL_SLICES); ++k) {
            const std::vector<uint8_t>& data = reused[i][k].dataOut;
            std::vector<uint8_t> payload = Slice(data, 84, data.size() - 104);
            if (steps[i].compress) {
                DecodedRegion region;
                ASSERT_EQ(DecodeFrame(data.data() + 64, data.size() - 84, DecodeOptions{}, &region),
                          DECODE_OK);
                payload = region.pixels;
            }
            EXPECT_TRUE(payload == Slice(frame, k * SLICE_BYTES, SLICE_BYTES))
                << "step " << i << " slice " << k;
        }
    }
}

int g_slicesBeforeCancel = 0;
bool CancelAfterFiveChecks() {
    return g_slicesBeforeCancel-- <= 0;
}

TEST_F(FrameTransferTest, CancelledFrameStopsBeforeTheNextSliceWithoutFrameDone) {
    std::vector<uint8_t> frame = PatternFrame();
    SetFrameCancelCheck(CancelAfterFiveChecks);
    for (auto send : {SendFrameRaw, SendFrameCompressed}) {
        fake.commands.clear();
        g_slicesBeforeCancel = 5;
        EXPECT_EQ(send(frame.data()), -1);
        EXPECT_EQ(fake.commands.size(), 5u);
    }
    SetFrameCancelCheck(nullptr);
    EXPECT_EQ(Traces(), "");
}

}  // namespace
