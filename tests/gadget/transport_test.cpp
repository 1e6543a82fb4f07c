// The transport as a host drives it: a loopback host turns each pass-through request into a
// CBW, its data and the CSW, through ServeCommand, as usb-storage would over the cable. The
// device layer's own senders and status requests run on it unchanged, and the projector core
// behind the gadget decodes what they send.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "emulator/virtual_projector.h"
#include "gadget/bulk_transport.h"
#include "gadget/fat_volume.h"
#include "platform/debug_print.h"

namespace gadget {
namespace {

// The device's two pipes, as a host on the other end fills and empties them.
class LoopbackPipes : public BulkPipes {
  public:
    long Receive(uint8_t* data, size_t length) override {
        size_t count = std::min(length, toDevice.size());
        std::copy_n(toDevice.begin(), count, data);
        toDevice.erase(toDevice.begin(), toDevice.begin() + static_cast<long>(count));
        return static_cast<long>(count);
    }
    long Send(const uint8_t* data, size_t length) override {
        fromDevice.emplace_back(data, data + length);
        return static_cast<long>(length);
    }
    void HaltIn() override { haltedIn = true; }
    void HaltOut() override { haltedOut = true; }

    std::deque<uint8_t> toDevice;
    std::vector<std::vector<uint8_t>> fromDevice;
    bool haltedIn = false;
    bool haltedOut = false;
};

// A host backend whose units are the gadget's LUNs: handle 1 is LUN 0, handle 2 LUN 1.
class LoopbackHost : public DeviceBackend {
  public:
    explicit LoopbackHost(ProjectorLuns* luns) : m_luns(luns) {}

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        CommandOutcome outcome =
            Serve(static_cast<uint8_t>(reinterpret_cast<uintptr_t>(unit) - 1), request.cdb,
                  request.dataTransferLength, request.dataIn == SCSI_IOCTL_DATA_IN,
                  static_cast<uint8_t*>(request.dataBuffer));
        if (outcome == CommandOutcome::DeviceGone) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        return outcome == CommandOutcome::Answered && lastStatus[12] != CSW_PHASE_ERROR ? 0 : EIO;
    }
    InterfaceLookup GetDiskInterface(uint32_t, std::string*, uint32_t* error) override {
        *error = ERROR_NO_MORE_ITEMS;
        return InterfaceLookup::EnumFailed;
    }
    DeviceHandle OpenUnit(const std::string&, uint32_t*) override { return nullptr; }
    void CloseUnit(DeviceHandle) override {}
    std::vector<VolumeInfo> ListVolumes() override { return {}; }
    void RemoveMountPoint(const std::string&) override {}
    std::string SystemErrorText(uint32_t) override { return ""; }

    // One command: the CBW, data out when `in` is false, then what came back.
    CommandOutcome Serve(uint8_t lun, const uint8_t* cdb, uint32_t length, bool in, uint8_t* data) {
        uint8_t cbw[CBW_BYTES] = {'U', 'S', 'B', 'C'};
        std::memcpy(cbw + 4, &++m_tag, 4);
        std::memcpy(cbw + 8, &length, 4);
        cbw[12] = in ? 0x80 : 0;
        cbw[13] = lun;
        cbw[14] = 16;
        std::memcpy(cbw + 15, cdb, 16);
        pipes.fromDevice.clear();
        if (!in && length > 0) {
            pipes.toDevice.assign(data, data + length);
        }
        CommandOutcome outcome = ServeCommand(&pipes, m_luns, cbw, sizeof cbw);
        if (outcome == CommandOutcome::Answered) {
            lastStatus = pipes.fromDevice.back();
            if (in && pipes.fromDevice.size() == 2) {
                std::copy(pipes.fromDevice[0].begin(), pipes.fromDevice[0].end(), data);
            }
        }
        return outcome;
    }

    LoopbackPipes pipes;
    std::vector<uint8_t> lastStatus;

  private:
    ProjectorLuns* m_luns;
    uint32_t m_tag = 0;
};

std::vector<uint8_t> TestFrame() {
    std::vector<uint8_t> frame(1229760);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>((i / 3 % 854) * 3 + (i % 3) * 70 + i / 2562 % 17);
    }
    return frame;
}

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetTraceSink(&m_dropped);
        emu::VirtualConfig config;
        config.requestView = emu::RequestView::UsbTransport;
        m_core = std::make_unique<emu::VirtualProjector>(config);
        m_volume = BuildFatVolume(2048, "TARQ K7Q0", 1);
        m_luns = std::make_unique<ProjectorLuns>(m_core.get(), &m_volume, "7B6A17000001");
        std::string error;
        ASSERT_TRUE(m_luns->Open(&error)) << error;
        m_host = std::make_unique<LoopbackHost>(m_luns.get());
        g_pDeviceBackend = m_host.get();
        g_hDisk1 = reinterpret_cast<DeviceHandle>(uintptr_t{1});
        g_hDisk2 = reinterpret_cast<DeviceHandle>(uintptr_t{2});
        g_bFrameToggle = 0;
        BuildEndMarker();
    }
    void TearDown() override {
        g_pDeviceBackend = nullptr;
        g_hDisk1 = g_hDisk2 = nullptr;
        SetTraceSink(nullptr);
    }
    std::string Errors() const {
        std::string text;
        for (const std::string& error : m_core->Report().protocolErrors) {
            text += error + "\n";
        }
        return text;
    }

    DroppedTraces m_dropped;
    std::unique_ptr<emu::VirtualProjector> m_core;
    std::vector<uint8_t> m_volume;
    std::unique_ptr<ProjectorLuns> m_luns;
    std::unique_ptr<LoopbackHost> m_host;
};

TEST_F(TransportTest, FramesOfBothSendersArriveWhole) {
    std::vector<uint8_t> frame = TestFrame();
    ASSERT_EQ(SendFrameRaw(frame.data()), 0);
    EXPECT_TRUE(m_core->LastFrame() == frame);
    frame[1000] ^= 0xFF;
    g_bFrameToggle = 1;
    ASSERT_EQ(SendFrameCompressed(frame.data()), 0);
    EXPECT_TRUE(m_core->LastFrame() == frame);
    emu::EmulatorReport report = m_core->Report();
    EXPECT_EQ(report.protocolErrorCount, 0u) << Errors();
    EXPECT_EQ(report.projectors[0].framesCompleted[0], 1);
    EXPECT_EQ(report.projectors[0].framesCompleted[1], 1);
}

TEST_F(TransportTest, LinkSpeedAndStatusRepliesComeBackThroughTheDiskUnit) {
    m_core->SetLinkValue(1);
    g_USB3_0 = 0;
    EXPECT_EQ(scsi_cmd_read_link_speed(), 0);
    EXPECT_EQ(g_USB3_0, 1u);
    EXPECT_EQ(SetDevPowerMode(POWER_MODE_ECO), 0);
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_ECO);
    uint8_t mcu[3] = {};
    EXPECT_EQ(GetMCUFirmInfo(mcu), 1);
    EXPECT_EQ(std::string(mcu, mcu + 3), "A01");
    // The answer is one byte; the host asked for four and gets zeros after it.
    uint8_t reply[4] = {9, 9, 9, 9};
    const uint8_t fault[16] = {0xFD, 0, 0, 0, 0xC0, 0xFF, 0x38, 0, 0, 0, 1};
    EXPECT_EQ(m_host->Serve(1, fault, 4, true, reply), CommandOutcome::Answered);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(m_core->Report().protocolErrorCount, 0u) << Errors();
}

TEST_F(TransportTest, AVendorCommandOnTheWrongUnitReachesTheCoreWhichReportsIt) {
    EXPECT_EQ(scsi_cmd_control_driverless(g_hDisk2, 1), 0);
    emu::EmulatorReport report = m_core->Report();
    ASSERT_EQ(report.protocolErrorCount, 1u);
    EXPECT_NE(report.protocolErrors[0].find("belongs on the optical unit"), std::string::npos);
}

TEST_F(TransportTest, ACommandWithoutItsDataEndsInAHaltAndAFailedStatus) {
    // READ CAPACITY on the optical unit, which has no medium: case 4 of the class.
    const uint8_t readCapacity[16] = {0x25};
    uint8_t data[8] = {};
    EXPECT_EQ(m_host->Serve(0, readCapacity, 8, true, data), CommandOutcome::Answered);
    EXPECT_TRUE(m_host->pipes.haltedIn);
    ASSERT_EQ(m_host->lastStatus.size(), CSW_BYTES);
    EXPECT_EQ(m_host->lastStatus[8], 8) << "residue";
    EXPECT_EQ(m_host->lastStatus[12], CSW_FAILED);
}

TEST_F(TransportTest, AnInvalidWrapperHaltsBothPipes) {
    uint8_t junk[CBW_BYTES] = {'U', 'S', 'B', 'X'};
    EXPECT_EQ(ServeCommand(&m_host->pipes, m_luns.get(), junk, sizeof junk),
              CommandOutcome::InvalidBlock);
    EXPECT_TRUE(m_host->pipes.haltedIn);
    EXPECT_TRUE(m_host->pipes.haltedOut);
    EXPECT_TRUE(m_host->pipes.fromDevice.empty());
}

// A host may announce any length up to 4 GiB; the gadget takes what a bank holds at most and
// refuses the command, whatever data follows.
TEST_F(TransportTest, AVendorTransferLongerThanABankIsRefused) {
    for (bool in : {false, true}) {
        uint8_t cbw[CBW_BYTES] = {'U', 'S', 'B', 'C', 1};
        const uint32_t length = 0xFFFFFFF0;
        std::memcpy(cbw + 8, &length, 4);
        cbw[12] = in ? 0x80 : 0;
        cbw[14] = 16;
        cbw[15] = in ? 0xFD : 0xFF;
        m_host->pipes.fromDevice.clear();
        m_host->pipes.toDevice.assign(10, 0xAB);  // a short packet ends the host's data
        ASSERT_EQ(ServeCommand(&m_host->pipes, m_luns.get(), cbw, sizeof cbw),
                  CommandOutcome::Answered);
        ASSERT_FALSE(m_host->pipes.fromDevice.empty());
        const std::vector<uint8_t>& status = m_host->pipes.fromDevice.back();
        ASSERT_EQ(status.size(), CSW_BYTES);
        EXPECT_EQ(status[12], CSW_FAILED) << (in ? "in" : "out");
    }
    EXPECT_EQ(m_core->Report().commands, 0u) << "nothing reached the core";
}

TEST_F(TransportTest, UnpluggedInTheMiddleOfAFrameNothingIsAnswered) {
    m_luns->UnplugAfterFrames(1);
    std::vector<uint8_t> frame = TestFrame();
    ASSERT_EQ(SendFrameRaw(frame.data()), 0);
    g_bFrameToggle = 1;
    EXPECT_EQ(SendFrameRaw(frame.data()), static_cast<int>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(m_host->pipes.fromDevice.empty()) << "no status for the write the cable took";
    // Slices 0 to 9 of the second frame reached the core; slice 10 did not.
    std::vector<emu::CommandRecord> log = m_core->CommandLog();
    EXPECT_EQ(log.size(), 21u + 10u);
    const std::array<uint8_t, 16>& last = log.back().cdb;
    uint32_t address = last[4] | last[5] << 8 | last[6] << 16 | uint32_t{last[7]} << 24;
    EXPECT_EQ(address, 0x80800000u + 10 * 0xFC00u) << "slice 9 of bank 1";
    EXPECT_EQ(m_core->Report().projectors[0].framesCompleted[0], 1);
}

}  // namespace
}  // namespace gadget
