// The real device layer (senders, discovery, status requests) and the real codec against the
// virtual projector: what the program sends must be what the projector shows.
#include <gtest/gtest.h>

#include <cstring>

#include "codec/frame_codec.h"
#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "emulator/virtual_projector.h"
#include "image/image_file.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"
#include "tests/emulator/hand_host.h"
#include "tests/support/caught_exits.h"
#include "tests/support/trace_recorder.h"

namespace {

using emu::CommandRecord;
using emu::VirtualConfig;
using emu::VirtualProjector;

const uint8_t kLastRawHeader[20] = {0xFB, 0x14, 0,    0,    0, 0, 0,    0, 0x2A, 0,
                                    0x20, 0,    0xC0, 0x0F, 0, 0, 0x01, 0, 0,    0xD7};
const uint8_t kEndMarker[20] = {0xFB, 0x14, 0x02, 0x20, 0, 0, 0,    0, 0, 0,
                                0,    0,    0,    0,    0, 0, 0x80, 0, 0, 0x4F};

// The real desktop screenshot.
std::vector<uint8_t> DesktopFrame() {
    Image image;
    std::string error;
    EXPECT_TRUE(ReadImage(KV_TEST_DATA_DIR "/desktop_text.png", &image, &error)) << error;
    EXPECT_EQ(image.bgr.size(), kFrameBytes);
    return image.bgr;
}

class WithVirtualProjector : public ::testing::Test {
  protected:
    void Use(const VirtualConfig& config) {
        projector_ = std::make_unique<VirtualProjector>(config);
        g_pDeviceBackend = projector_.get();
    }
    void SetUp() override {
        Use(VirtualConfig());
        g_hDisk1 = g_hDisk2 = nullptr;
        g_USB3_0 = 0;
        g_uOpticalSearchIndex = g_uDiskSearchIndex = 0;
        g_bFrameToggle = 0;
    }
    void TearDown() override {
        g_pDeviceBackend = nullptr;
        g_hDisk1 = g_hDisk2 = nullptr;
    }
    std::string Errors() const {
        std::string text;
        for (const std::string& error : projector_->Report().protocolErrors) {
            text += error + "\n";
        }
        return text;
    }

    std::unique_ptr<VirtualProjector> projector_;
    TraceRecorder m_traces;  // kept from the platform output, unread
    CaughtExits m_exits;
};

class SenderTest : public WithVirtualProjector {
  protected:
    void SetUp() override {
        WithVirtualProjector::SetUp();
        host_ = std::make_unique<HandHost>(*projector_);
        g_hDisk1 = host_->optical;
        BuildEndMarker();
    }

    // Sends `frame` into `bank`; checks the commands that reached the projector and that it
    // shows the frame unchanged.
    void SendAndCheck(const std::vector<uint8_t>& frame, int bank, bool compressed) {
        size_t logBefore = projector_->CommandLog().size();
        g_bFrameToggle = bank;
        ASSERT_EQ(compressed ? SendFrameCompressed(frame.data()) : SendFrameRaw(frame.data()), 0);
        std::vector<CommandRecord> log = projector_->CommandLog();
        ASSERT_EQ(log.size() - logBefore, 21u);
        for (int slice = 0; slice < 20; ++slice) {
            const CommandRecord& write = log[logBefore + static_cast<size_t>(slice)];
            SCOPED_TRACE("slice " + std::to_string(slice));
            EXPECT_EQ(write.cdb[0], 0xFF);
            uint32_t address = write.cdb[4] | write.cdb[5] << 8 | write.cdb[6] << 16 |
                               static_cast<uint32_t>(write.cdb[7]) << 24;
            EXPECT_EQ(address, SliceAddress(bank, slice));
            EXPECT_STREQ(write.direction, "out");
            uint32_t expected = slice == 19 ? (compressed ? 4072 : 4136) : 64616;
            if (compressed && slice < 19) {
                EXPECT_EQ(write.length % 4, 0u);
                EXPECT_GE(write.length, 84u + 20u);
                EXPECT_LE(write.length, 84u + 20u + 64512u * 194 / 192 + 64);
            } else {
                EXPECT_EQ(write.length, expected);
            }
        }
        const CommandRecord& done = log.back();
        const uint8_t frameDone[16] = {0xFE, 0, 0, 0, 0xC0, 0xD1, 5, 0, 0x40, 0, 1};
        EXPECT_EQ(std::memcmp(done.cdb.data(), frameDone, 16), 0);
        EXPECT_STREQ(done.direction, "none");

        // The last write, still whole in bank memory: the raw sender's begins with the lead-in,
        // the compressed sender's directly with the header; both close with the end marker.
        uint32_t lastLength = log[log.size() - 2].length;
        std::vector<uint8_t> last = projector_->ReadMemory(0, SliceAddress(bank, 19), lastLength);
        size_t headerAt = compressed ? 0 : 64;
        EXPECT_EQ(std::vector<uint8_t>(last.begin(), last.begin() + static_cast<long>(headerAt)),
                  std::vector<uint8_t>(headerAt, 0));
        EXPECT_EQ(std::memcmp(&last[headerAt], kLastRawHeader, 20), 0);
        EXPECT_EQ(std::memcmp(&last[lastLength - 20], kEndMarker, 20), 0);

        EXPECT_EQ(projector_->Report().protocolErrorCount, 0u) << Errors();
        std::vector<uint8_t> shown = projector_->LastFrame();
        ASSERT_EQ(shown.size(), frame.size());
        EXPECT_TRUE(shown == frame) << "the projector shows another picture";
    }

    std::unique_ptr<HandHost> host_;
};

TEST_F(SenderTest, RawFramesReachBothBanksUnchanged) {
    std::vector<uint8_t> desktop = DesktopFrame();
    std::vector<uint8_t> noise = NoiseFrame(21);
    SendAndCheck(desktop, 0, false);
    SendAndCheck(noise, 1, false);
    emu::ProjectorStatus status = projector_->Report().projectors[0];
    EXPECT_EQ(status.framesCompleted[0], 1);
    EXPECT_EQ(status.framesCompleted[1], 1);
}

TEST_F(SenderTest, CompressedFramesDecodeToTheSourcePixelForPixel) {
    std::vector<uint8_t> desktop = DesktopFrame();
    std::vector<uint8_t> noise = NoiseFrame(22);
    SendAndCheck(desktop, 0, true);
    SendAndCheck(desktop, 1, true);
    SendAndCheck(noise, 0, true);
    emu::ProjectorStatus status = projector_->Report().projectors[0];
    EXPECT_EQ(status.framesCompleted[0], 2);
    EXPECT_EQ(status.framesCompleted[1], 1);

    // The desktop must actually shrink on the wire.
    std::vector<CommandRecord> log = projector_->CommandLog();
    uint64_t desktopBytes = 0;
    for (size_t i = 0; i < 20; ++i) {
        desktopBytes += log[i].length;
    }
    EXPECT_LT(desktopBytes, kFrameBytes / 2);
}

TEST_F(SenderTest, UnplugAtSlice7StopsTheFrameThere) {
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "raw");
        Use(VirtualConfig());
        projector_->VanishAtSlice(7);
        host_ = std::make_unique<HandHost>(*projector_);
        g_hDisk1 = host_->optical;
        std::vector<uint8_t> frame = NoiseFrame(23);
        EXPECT_EQ(compressed ? SendFrameCompressed(frame.data()) : SendFrameRaw(frame.data()),
                  1167);
        std::vector<CommandRecord> log = projector_->CommandLog();
        ASSERT_EQ(log.size(), 8u);  // slices 0 to 7, no frame-done
        EXPECT_EQ(log.back().cdb[0], 0xFF);
        EXPECT_EQ(log.back().result, ERROR_DEVICE_NOT_CONNECTED);
        EXPECT_TRUE(projector_->LastFrame().empty());
    }
}

TEST_F(SenderTest, AnotherErrorAtSlice7FailsTheFrameAndTheNextOneIsShown) {
    std::vector<uint8_t> frame = NoiseFrame(24);
    VirtualConfig config;
    config.failNext = {1, 31, 7};
    Use(config);
    host_ = std::make_unique<HandHost>(*projector_);
    g_hDisk1 = host_->optical;
    EXPECT_EQ(SendFrameRaw(frame.data()), -1);
    EXPECT_EQ(projector_->CommandLog().size(), 8u);
    SendAndCheck(frame, 1, false);
    EXPECT_EQ(projector_->Report().projectors[0].framesAbandoned, 1);
}

// A compressed slice write as the sender makes it, built here with the real encoder.
std::vector<uint8_t> CompressedSliceWrite(const std::vector<uint8_t>& frame, int slice) {
    FrameCodecParams params = CompressedSliceParams();
    std::vector<uint8_t> write(64 + MaxEncodedLength(params), 0);
    int length = 0;
    EXPECT_TRUE(EncodeFrame(&params, &frame[static_cast<size_t>(slice) * kSliceBytes], &write[64],
                            &length));
    write.resize(64 + static_cast<size_t>(length));
    write.insert(write.end(), std::begin(kEndMarker), std::end(kEndMarker));
    return write;
}

uint32_t PayloadSize(const std::vector<uint8_t>& write) {
    return write[76] | write[77] << 8 | write[78] << 16 | static_cast<uint32_t>(write[79]) << 24;
}

void SetPayloadSize(std::vector<uint8_t>* write, uint32_t size) {
    for (int i = 0; i < 4; ++i) {
        (*write)[76 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
    }
    FixChecksum(write->data() + 64);
}

struct BadCompressedFrame {
    const char* name;
    const char* expected;
    // Changes write `slice` of a compressed frame; false leaves it alone.
    bool (*edit)(int slice, const std::vector<uint8_t>& frame, std::vector<uint8_t>* write);
};

const BadCompressedFrame kBadCompressedFrames[] = {
    {"LastSliceWithLeadIn", "last slice of a compressed frame has a lead-in",
     [](int slice, const std::vector<uint8_t>& frame, std::vector<uint8_t>* write) {
         if (slice != 19) {
             return false;
         }
         *write = RawSliceWrite(frame, slice, true);
         return true;
     }},
    {"RawSliceInCompressedFrame", "slice 5 is raw in a compressed frame",
     [](int slice, const std::vector<uint8_t>& frame, std::vector<uint8_t>* write) {
         if (slice != 5) {
             return false;
         }
         *write = RawSliceWrite(frame, slice, true);
         return true;
     }},
    {"CompressedLastSlice", "the last slice is compressed",
     [](int slice, const std::vector<uint8_t>& frame, std::vector<uint8_t>* write) {
         if (slice != 19) {
             return false;
         }
         *write = CompressedSliceWrite(frame, 18);
         return true;
     }},
    {"PayloadSizeTooLarge", "compressed payload room of",
     [](int slice, const std::vector<uint8_t>&, std::vector<uint8_t>* write) {
         if (slice != 3) {
             return false;
         }
         SetPayloadSize(write, PayloadSize(*write) + 8);
         return true;
     }},
    {"UnusedByteNotZero", "unused byte 0 of the last payload word is 55",
     [](int slice, const std::vector<uint8_t>&, std::vector<uint8_t>* write) {
         uint32_t payload = PayloadSize(*write);
         if (slice == 19 || payload % 4 == 0) {
             return false;
         }
         (*write)[64 + 20 + (payload & ~3u)] = 0x55;
         return true;
     }},
    {"TruncatedPayload", "does not decode",
     [](int slice, const std::vector<uint8_t>&, std::vector<uint8_t>* write) {
         if (slice != 2) {
             return false;
         }
         write->erase(write->begin() + 64 + 20 + 64, write->end() - 20);
         SetPayloadSize(write, 64);
         return true;
     }},
    {"BigEndianWords", "compressed slice header: flags 33, expected 49",
     [](int slice, const std::vector<uint8_t>&, std::vector<uint8_t>* write) {
         if (slice != 0) {
             return false;
         }
         (*write)[64 + 16] = 0x21;
         FixChecksum(write->data() + 64);
         return true;
     }},
};

class BadCompressedFrameTest : public WithVirtualProjector,
                               public ::testing::WithParamInterface<BadCompressedFrame> {};

TEST_P(BadCompressedFrameTest, IsReportedAndShowsNoFrame) {
    HandHost host(*projector_);
    std::vector<uint8_t> frame = DesktopFrame();
    bool edited = false;
    for (int slice = 0; slice < 20; ++slice) {
        std::vector<uint8_t> write =
            slice < 19 ? CompressedSliceWrite(frame, slice) : RawSliceWrite(frame, slice, false);
        edited = GetParam().edit(slice, frame, &write) || edited;
        host.Write(SliceAddress(0, slice), write);
    }
    host.Control(5);
    ASSERT_TRUE(edited);
    EXPECT_NE(Errors().find(GetParam().expected), std::string::npos) << Errors();
    EXPECT_TRUE(projector_->LastFrame().empty());
    EXPECT_EQ(projector_->Report().projectors[0].framesRejected, 1);
}

INSTANTIATE_TEST_SUITE_P(Frames, BadCompressedFrameTest, ::testing::ValuesIn(kBadCompressedFrames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WithVirtualProjector, OpenDriverlessDeviceFindsOpensAndHidesTheProjector) {
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(g_USB3_0, 2u);
    ASSERT_NE(g_hDisk1, nullptr);
    ASSERT_NE(g_hDisk2, nullptr);
    emu::EmulatorReport report = projector_->Report();
    EXPECT_EQ(report.protocolErrorCount, 0u) << Errors();
    EXPECT_EQ(report.projectors[0].openCommands, 1);
    EXPECT_EQ(report.mountPointRemovals, std::vector<std::string>{"E:\\"});
    EXPECT_FALSE(report.projectors[0].volumeMounted);

    // The units found are the ones the frames and status requests then use.
    std::vector<uint8_t> frame = NoiseFrame(25);
    EXPECT_EQ(SendFrameCompressed(frame.data()), 0);
    EXPECT_EQ(projector_->LastFrame(), frame);
    std::vector<CommandRecord> log = projector_->CommandLog();
    EXPECT_EQ(log[0].unit, emu::UnitKind::Disk);     // link speed
    EXPECT_EQ(log[1].unit, emu::UnitKind::Optical);  // open
    EXPECT_EQ(log[1].cdb[6], 1);
}

TEST_F(WithVirtualProjector, WithTwoProjectorsTheOneWithALinkIsUsed) {
    VirtualConfig config;
    config.linkValues = {0, 1};
    Use(config);
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(g_USB3_0, 1u);
    emu::EmulatorReport report = projector_->Report();
    EXPECT_EQ(report.protocolErrorCount, 0u) << Errors();
    EXPECT_EQ(report.projectors[0].openCommands, 0);
    EXPECT_EQ(report.projectors[1].openCommands, 1);
    BuildEndMarker();
    std::vector<uint8_t> frame = NoiseFrame(26);
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    EXPECT_EQ(projector_->Report().projectors[1].framesCompleted[0], 1);
}

TEST_F(WithVirtualProjector, WithNoProjectorTheSearchFindsNone) {
    VirtualConfig config;
    config.linkValues = {};
    Use(config);
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
}

TEST_F(WithVirtualProjector, StatusRequestsAreAnsweredAsConfigured) {
    VirtualConfig config;
    config.fault = 2;
    config.firmwareInfo = {1, 2, 3, 1, 4};
    Use(config);
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(ReadDevFaultStatus(), 2);
    EXPECT_EQ(GetDevPowerMode(), 0);
    EXPECT_EQ(SetDevPowerMode(1), 0);
    EXPECT_EQ(GetDevPowerMode(), 1);
    uint8_t id[3] = {};
    EXPECT_EQ(GetMCUFirmInfo(id), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 3), "A01");
    uint8_t info[64];
    std::memset(info, 0xEE, sizeof info);
    EXPECT_EQ(getDriverLessFirmInfo(info), 1);
    EXPECT_EQ(info[0] * 1000 + info[1] * 100 + info[2] * 10, 1230);
    EXPECT_EQ(info[3] * 256 + info[4], 260);
    EXPECT_EQ(info[63], 0);
    EXPECT_EQ(projector_->Report().protocolErrorCount, 0u) << Errors();

    projector_->VanishAfter(0);
    EXPECT_EQ(GetDevPowerMode(), 0xFF);
}

}  // namespace
