// The program's Linux backend, unchanged, against the virtual projector at its sg nodes: the
// units found through a sysfs tree shaped as the kernel shows them, opened, and every command
// sent as SG_IO. The ioctl of this test program is the preloaded library's, so nothing of the
// backend is stood in for.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/frame_transfer.h"
#include "emulator/sg_nodes/sg_node_attachment.h"
#include "tests/device/device_test_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> TestFrame(uint8_t seed) {
    std::vector<uint8_t> frame(FRAME_BYTES);
    for (size_t i = 0; i < frame.size(); ++i) {
        // Smooth rows with an edge, as a desktop has, so the codec has work of both kinds.
        size_t x = i / 3 % 854;
        frame[i] = static_cast<uint8_t>(x < 300 ? seed + i / 2562 : (x * 7 + i % 3 * 40) ^ seed);
    }
    return frame;
}

TEST(SgNodeConfig, TheNodesMustBeOnePerUnitAndTheCallerKnown) {
    emu::SgNodeConfig config;
    std::string error;
    ASSERT_TRUE(emu::ParseSgNodeConfig("/dev/sg0:/dev/sg4:/dev/sg3:/dev/sg2:/dev/sg1",
                                       "projectors=2,fault=1", "wine64", &config, &error))
        << error;
    EXPECT_EQ(config.nodes[1], "/dev/sg4");
    EXPECT_EQ(config.caller, emu::SgCaller::Wine64);
    EXPECT_EQ(config.projector.fault, 1);
    struct Case {
        const char* nodes;
        const char* projector;
        const char* caller;
        const char* error;
    };
    const Case cases[] = {
        {"", nullptr, nullptr, "KVUSB_SG_NODES names no nodes"},
        {"/dev/sg0:/dev/sg1", nullptr, nullptr,
         "KVUSB_SG_NODES names 2 nodes; the system's disk and 1 projectors have 3"},
        {"/dev/sg0:/dev/sg2:/dev/sg1", "speed=2", nullptr, "KVUSB_SG_PROJECTOR: unknown option"},
        {"/dev/sg0:/dev/sg2:/dev/sg1", nullptr, "wine32",
         "KVUSB_SG_CALLER is 'wine32', not native or wine64"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(emu::ParseSgNodeConfig(c.nodes, c.projector, c.caller, &config, &error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

class SgNodeBackendTest : public DeviceTest {
  protected:
    void TearDown() override {
        for (DeviceHandle* unit : {&g_hDisk1, &g_hDisk2}) {
            if (*unit != nullptr) {
                backend_->CloseUnit(*unit);
            }
        }
        emu::SetLinkedAttachment(nullptr);
        attachment_.reset();
        DeviceTest::TearDown();
        if (!root_.empty()) {
            fs::remove_all(root_);
        }
    }

    // A machine made by fake_tree.sh with `treeOptions`, its nodes played by a projector
    // with `options`, and the Linux backend looking at it.
    void Attach(const std::string& options, const std::string& treeOptions = "") {
        std::string pattern = (fs::temp_directory_path() / "kv_sg_nodes_XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        std::string command = "bash " KV_BELOW_DIR "/fake_tree.sh " + root_ + " " + treeOptions;
        FILE* tree = popen(command.c_str(), "r");
        ASSERT_NE(tree, nullptr);
        char line[512] = {};
        ASSERT_NE(fgets(line, sizeof line, tree), nullptr);
        ASSERT_EQ(pclose(tree), 0);
        // The tree names /dev nodes; this machine's /dev is below the root.
        std::string nodes;
        std::istringstream names(line);
        for (std::string node; std::getline(names, node, ':');) {
            node.erase(node.find_last_not_of('\n') + 1);
            nodes += (nodes.empty() ? "" : ":") + root_ + node;
        }
        emu::SgNodeConfig config;
        std::string error;
        ASSERT_TRUE(
            emu::ParseSgNodeConfig(nodes.c_str(), options.c_str(), "native", &config, &error))
            << error;
        attachment_ = emu::SgNodeAttachment::Create(config, &error);
        ASSERT_NE(attachment_, nullptr) << error;
        emu::SetLinkedAttachment(attachment_.get());
        std::ofstream(root_ + "/mounts") << "";
        backend_.reset(CreateLinuxDeviceBackend((root_ + "/sys").c_str(), (root_ + "/dev").c_str(),
                                                (root_ + "/mounts").c_str()));
        g_pDeviceBackend = backend_.get();
    }

    emu::VirtualProjector& Projector() { return *attachment_->Projector(); }

    std::string root_;
    std::unique_ptr<emu::SgNodeAttachment> attachment_;
    std::unique_ptr<DeviceBackend> backend_;
};

class SgNodeStartUpTest : public SgNodeBackendTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(SgNodeStartUpTest, BothUnitsAreFoundInSysfsAndOpenedWhateverDriverHasTheOpticalOne) {
    Attach("link=2.0", std::string("--optical ") + GetParam());
    ASSERT_EQ(OpenDriverlessDevice(), 1) << Traces();
    EXPECT_NE(Traces().find("Disk2 Path: USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00#"
                            "6:0:0:1#sg2\n"),
              std::string::npos)
        << Traces();
    EXPECT_NE(Traces().find("Disk1 Path: USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00#"
                            "6:0:0:0#sg1\n"),
              std::string::npos)
        << Traces();
    EXPECT_EQ(g_USB3_0, 2u);
    emu::EmulatorReport report = Projector().Report();
    EXPECT_EQ(report.projectors[0].openCommands, 1);
    EXPECT_EQ(report.protocolErrorCount, 0u) << report.protocolErrors.front();
    std::vector<emu::CommandRecord> log = Projector().CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].unit, emu::UnitKind::Disk);
    EXPECT_STREQ(log[0].direction, "in");
    EXPECT_EQ(log[1].unit, emu::UnitKind::Optical);
    EXPECT_STREQ(log[1].direction, "none");
}

INSTANTIATE_TEST_SUITE_P(OpticalDriver, SgNodeStartUpTest, ::testing::Values("sr", "sd"));

TEST_F(SgNodeBackendTest, FramesArriveWholeRawAndCompressedInBothBanks) {
    for (const char* link : {"3.0", "2.0"}) {
        SCOPED_TRACE(link);
        Attach(std::string("link=") + link);
        ASSERT_EQ(OpenDriverlessDevice(), 1);
        bool raw = (g_USB3_0 & LINK_SPEED_MASK) == LINK_USB3_0;
        for (int bank = 0; bank < 2; ++bank) {
            g_bFrameToggle = bank;
            std::vector<uint8_t> frame = TestFrame(static_cast<uint8_t>(17 * bank + 5));
            ASSERT_EQ(raw ? SendFrameRaw(frame.data()) : SendFrameCompressed(frame.data()), 0);
            EXPECT_EQ(Projector().LastFrame(), frame);
        }
        emu::EmulatorReport report = Projector().Report();
        EXPECT_EQ(report.projectors[0].framesCompleted, (std::array<int, 2>{1, 1}));
        EXPECT_EQ(report.protocolErrorCount, 0u) << report.protocolErrors.front();
        TearDown();
        SetUp();
    }
}

TEST_F(SgNodeBackendTest, StatusRequestsReadAndSetTheRegisters) {
    Attach("power=1,fault=2,mcu=Q7Z,firmware=02.00.09.01.00");
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_ECO);
    EXPECT_EQ(SetDevPowerMode(POWER_MODE_AUTO), 0);
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_AUTO);
    EXPECT_EQ(ReadDevFaultStatus(), DEV_FAULT_FAN_FAILURE);
    uint8_t mcu[MCU_FIRMWARE_ID_BYTES] = {};
    ASSERT_EQ(GetMCUFirmInfo(mcu), 1);
    EXPECT_EQ(std::string(mcu, mcu + 3), "Q7Z");
    uint8_t firmware[FIRMWARE_INFO_BYTES] = {};
    ASSERT_EQ(getDriverLessFirmInfo(firmware), 1);
    EXPECT_EQ(firmware[2], 9);
    EXPECT_EQ(firmware[3] * 256 + firmware[4], 256);
    EXPECT_EQ(Projector().Report().protocolErrorCount, 0u);
}

// As the kernel reports a projector pulled mid-frame: the slice in flight fails at the host
// adapter, an ordinary link error; the unit is gone for every command after it.
TEST_F(SgNodeBackendTest, AProjectorGoneAtASliceIsALinkErrorThenAnUnplugEverywhere) {
    Attach("link=2.0,vanish_at_slice=7");
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    ClearTraces();
    std::vector<uint8_t> frame = TestFrame(1);
    EXPECT_EQ(SendFrameCompressed(frame.data()), -1);
    EXPECT_EQ(Traces(), "SCSI Error: 5  ");
    // Slices 0 to 7 were sent, nothing after.
    EXPECT_EQ(Projector().CommandLog().size(), 2u + 8u);
    EXPECT_EQ(SendFrameCompressed(frame.data()), static_cast<int>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(Traces(), "SCSI Error: 5  ");  // an unplug is no link error
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_FAILED);
    EXPECT_NE(Traces().find("SCSI ERROR(R) => 1167: No such device \n"), std::string::npos)
        << Traces();
}

TEST_F(SgNodeBackendTest, AnOsErrorIsALinkFaultAndTheNextFrameGoesThrough) {
    // The sixth command, slice 3 of the first frame, fails with EIO.
    Attach("link=3.0,fail_next=1:5@5");
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    ClearTraces();
    std::vector<uint8_t> frame = TestFrame(2);
    EXPECT_EQ(SendFrameRaw(frame.data()), -1);
    EXPECT_EQ(Traces(), "SCSI Error: 5  ");
    EXPECT_EQ(SendFrameRaw(frame.data()), 0);
    EXPECT_EQ(Projector().LastFrame(), frame);
}

TEST_F(SgNodeBackendTest, AFailedStatusReadGivesTheFailureValueOnce) {
    Attach("fail_reads=1:5@1");  // the read after the link-speed query
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    ClearTraces();
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_FAILED);
    EXPECT_EQ(Traces(),
              "SCSI ERROR(R) => 5: Input/output error \n"
              "GetDevPowerMode: scsi_cmd_read_driverless error!\n");
    EXPECT_EQ(GetDevPowerMode(), POWER_MODE_AUTO);
}

TEST_F(SgNodeBackendTest, AProjectorWithoutLinkIsPassedOverForTheNext) {
    Attach("projectors=2,link=none/2.0", "--projectors 2");
    ASSERT_EQ(OpenDriverlessDevice(), 1) << Traces();
    EXPECT_NE(Traces().find("#6:0:0:1#sg2\nDisk2 Path: "
                            "USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00#7:0:0:1#sg4\n"),
              std::string::npos)
        << Traces();
    EXPECT_NE(Traces().find("#7:0:0:0#sg3\n"), std::string::npos) << Traces();
    EXPECT_EQ(Projector().Report().projectors[1].openCommands, 1);
}

TEST_F(SgNodeBackendTest, WithoutAProjectorTheSearchFindsNone) {
    Attach("projectors=0", "--projectors 0");
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
}

}  // namespace
