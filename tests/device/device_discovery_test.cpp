#include "device/device_discovery.h"

#include <string>

#include "device/frame_transfer.h"
#include "tests/device/device_test_support.h"

namespace {

// Interface paths as the system reports them, in lower case.
const std::string OTHER_DISK =
    "\\\\?\\scsi#disk&ven_ata&prod_ssd#4&1a2b&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string DISK_UNIT =
    "\\\\?\\usbstor#disk&ven_kvusb&prod_tr40w17b6-2&rev_1.00#0001&1#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string SECOND_DISK_UNIT =
    "\\\\?\\usbstor#disk&ven_kvusb&prod_tr40w17b6-2&rev_1.00#0002&1#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string OPTICAL_UNIT =
    "\\\\?\\usbstor#optical&ven_kvusb&prod_tr40w17b6-1&rev_1.00#0001&0#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string SECOND_OPTICAL_UNIT =
    "\\\\?\\usbstor#optical&ven_kvusb&prod_tr40w17b6-1&rev_1.00#0002&0#"
    "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class DeviceDiscoveryTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        fake.errorTexts[ERROR_NO_MORE_ITEMS] = "No more data is available.\r\n";
    }

    // The fake's handle for an interface path.
    DeviceHandle Unit(const std::string& path) {
        auto entry = std::find(fake.interfaces.begin(), fake.interfaces.end(), path);
        return FakeDeviceBackend::HandleOf(static_cast<size_t>(entry - fake.interfaces.begin()));
    }

    void LinkSpeed(const std::string& path, const char* reply) {
        fake.replies[Unit(path)] = Bytes(reply);
    }
};

TEST_F(DeviceDiscoveryTest, OpensBothUnitsFromLowerCasePaths) {
    fake.interfaces = {OTHER_DISK, OPTICAL_UNIT, DISK_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 06");
    fake.volumes = {{"E:\\", true, true, "TARQ K7Q0"}};

    EXPECT_EQ(OpenDriverlessDevice(), 1);

    EXPECT_EQ(g_hDisk2, Unit(DISK_UNIT));
    EXPECT_EQ(g_hDisk1, Unit(OPTICAL_UNIT));
    EXPECT_EQ(g_USB3_0, 6u);
    EXPECT_EQ(Traces(), "Disk2 Path: " + DISK_UNIT + "\ng_USB3_0: 0x6\nUSB 2.0\nDisk1 Path: " +
                            OPTICAL_UNIT + "\nHide Disk: E:\\\n");
    // The link-speed query on the disk unit, then the open command on the optical unit.
    ASSERT_EQ(fake.commands.size(), 2u);
    EXPECT_EQ(fake.commands[0].unit, g_hDisk2);
    EXPECT_EQ(fake.commands[0].request.cdb[0], 0xFD);
    EXPECT_EQ(fake.commands[1].unit, g_hDisk1);
    EXPECT_EQ(CdbOf(fake.commands[1]), Bytes("FE 00 00 00 C0 D1 01 00 40 00 01 00 00 00 00 00"));
    EXPECT_EQ(fake.removedMountPoints, std::vector<std::string>{"E:\\"});
    EXPECT_TRUE(fake.closed.empty());
    EXPECT_EQ(g_EndMarker[0], 0xFB);
    EXPECT_EQ(g_EndMarker[19], 0x4F);
}

TEST_F(DeviceDiscoveryTest, LinkSpeedTraces) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 01");
    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_NE(Traces().find("g_USB3_0: 0x1\nUSB 3.0\n"), std::string::npos);

    g_uDiskSearchIndex = 0;
    g_uOpticalSearchIndex = 0;
    ClearTraces();
    LinkSpeed(DISK_UNIT, "00 00 01 03");
    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_NE(Traces().find("g_USB3_0: 0x103\nUSB 1.1\n"), std::string::npos);
}

TEST_F(DeviceDiscoveryTest, DiskUnitWithoutLinkIsClosedAndTheSecondProjectorUsed) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT, SECOND_DISK_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 04");
    LinkSpeed(SECOND_DISK_UNIT, "00 00 00 01");

    EXPECT_EQ(OpenDriverlessDevice(), 1);

    EXPECT_EQ(fake.closed, std::vector<DeviceHandle>{Unit(DISK_UNIT)});
    EXPECT_EQ(g_hDisk2, Unit(SECOND_DISK_UNIT));
    EXPECT_EQ(g_USB3_0, 1u);
    EXPECT_EQ(fake.commands[1].unit, Unit(SECOND_DISK_UNIT));
}

TEST_F(DeviceDiscoveryTest, NoProjectorEndsTheSearchWithNone) {
    fake.interfaces = {OTHER_DISK};
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
    EXPECT_EQ(Traces(),
              "Error: No more data is available.\r\nSetupDiEnumDeviceInterfaces failed.\n");
    EXPECT_EQ(g_hDisk2, nullptr);
}

TEST_F(DeviceDiscoveryTest, LoneProjectorWithoutLinkEndsTheSearchWithNone) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "01 00 00 00");
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
    EXPECT_EQ(fake.closed, std::vector<DeviceHandle>{Unit(DISK_UNIT)});
}

TEST_F(DeviceDiscoveryTest, FailedLinkQueryMovesOnLikeNoLink) {
    fake.interfaces = {DISK_UNIT, SECOND_DISK_UNIT, OPTICAL_UNIT};
    fake.failUnit[Unit(DISK_UNIT)] = 31;
    LinkSpeed(SECOND_DISK_UNIT, "00 00 00 02");
    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(g_hDisk2, Unit(SECOND_DISK_UNIT));
}

TEST_F(DeviceDiscoveryTest, OpticalUnitAnsweringUnpluggedIsClosedAndTheNextOneTried) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT, SECOND_OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 02");
    fake.failUnit[Unit(OPTICAL_UNIT)] = ERROR_DEVICE_NOT_CONNECTED;

    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(fake.closed, std::vector<DeviceHandle>{Unit(OPTICAL_UNIT)});
    EXPECT_EQ(g_hDisk1, Unit(SECOND_OPTICAL_UNIT));
}

TEST_F(DeviceDiscoveryTest, LoneOpticalUnitAnsweringUnpluggedEndsTheSearchWithNone) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 02");
    fake.failUnit[Unit(OPTICAL_UNIT)] = ERROR_DEVICE_NOT_CONNECTED;
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
    EXPECT_EQ(fake.closed, std::vector<DeviceHandle>{Unit(OPTICAL_UNIT)});
}

TEST_F(DeviceDiscoveryTest, OtherOpenCommandFailureLetsStartUpGoOn) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 02");
    fake.failUnit[Unit(OPTICAL_UNIT)] = 31;
    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(g_hDisk1, Unit(OPTICAL_UNIT));
    EXPECT_NE(Traces().find("SCSI Error: 31  "), std::string::npos);
}

TEST_F(DeviceDiscoveryTest, DiskUnitThatCannotBeOpenedGivesZero) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    fake.openErrors[DISK_UNIT] = 5;
    EXPECT_EQ(OpenDriverlessDevice(), 0);
    EXPECT_EQ(Traces(), "Disk2 Path: " + DISK_UNIT + "\nError opening device. Error: 5\n");
}

TEST_F(DeviceDiscoveryTest, OpticalUnitThatCannotBeOpenedGivesZero) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 02");
    fake.openErrors[OPTICAL_UNIT] = 32;
    EXPECT_EQ(OpenDriverlessDevice(), 0);
    EXPECT_NE(Traces().find("Disk1 Path: " + OPTICAL_UNIT + "\nError opening device. Error: 32\n"),
              std::string::npos);
    EXPECT_TRUE(fake.removedMountPoints.empty());
}

TEST_F(DeviceDiscoveryTest, AdaptersAreTracedAndOneThatCannotTakeASliceStopsTheStart) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 02");
    fake.adapterLimits[Unit(DISK_UNIT)] = {0, 65536, 17};
    fake.adapterLimits[Unit(OPTICAL_UNIT)] = {1, 32768, 9};

    EXPECT_EQ(OpenDriverlessDevice(), 0);

    EXPECT_EQ(Traces(), "Disk2 Path: " + DISK_UNIT +
                            "\nDisk2 adapter: AlignmentMask 0x0, MaximumTransferLength 65536, "
                            "MaximumPhysicalPages 17\ng_USB3_0: 0x2\nUSB 2.0\nDisk1 Path: " +
                            OPTICAL_UNIT +
                            "\nDisk1 adapter: AlignmentMask 0x1, MaximumTransferLength 32768, "
                            "MaximumPhysicalPages 9\nDisk1 adapter cannot take a 64616-byte "
                            "frame slice in one request, vorn_kvusb cannot run on it\n");
    // The projector is told nothing and its volume keeps its letter.
    ASSERT_EQ(fake.commands.size(), 1u);
    EXPECT_EQ(fake.commands[0].unit, Unit(DISK_UNIT));
    EXPECT_TRUE(fake.removedMountPoints.empty());
}

TEST_F(DeviceDiscoveryTest, AnAdapterThatTakesASliceLetsTheStartGoOn) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT};
    LinkSpeed(DISK_UNIT, "00 00 00 02");
    fake.adapterLimits[Unit(OPTICAL_UNIT)] = {511, 65536, 16};
    EXPECT_EQ(OpenDriverlessDevice(), 1);
    EXPECT_EQ(fake.commands.back().unit, Unit(OPTICAL_UNIT));  // the open command
}

TEST_F(DeviceDiscoveryTest, InterfaceListThatCannotBeReadGivesZero) {
    fake.lookupFailures[0] = {InterfaceLookup::ListFailed, 13};
    EXPECT_EQ(OpenDriverlessDevice(), 0);
    EXPECT_EQ(Traces(), "SetupDiGetClassDevs failed!\nError opening device. Error: 13\n");

    ClearTraces();
    fake.lookupFailures[0] = {InterfaceLookup::NoMemory, 8};
    EXPECT_EQ(OpenDriverlessDevice(), 0);
    EXPECT_EQ(Traces(), "Failed to allocate memory.\nError opening device. Error: 8\n");
}

TEST_F(DeviceDiscoveryTest, InterfaceEntryThatCannotBeReadEndsTheSearchWithNone) {
    fake.lookupFailures[0] = {InterfaceLookup::DetailFailed, 122};
    fake.errorTexts[122] = "The data area passed to a system call is too small.\r\n";
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
    EXPECT_EQ(Traces(),
              "SetupDiGetDeviceInterfaceDetail failed. Error: The data area passed to a system "
              "call is too small.\r\n\n");
}

TEST_F(DeviceDiscoveryTest, EachSearchTextWalksForwardOnItsOwn) {
    fake.interfaces = {DISK_UNIT, OPTICAL_UNIT, SECOND_DISK_UNIT, SECOND_OPTICAL_UNIT};
    EXPECT_EQ(FindDevicePath("USBSTOR#Disk&Ven_KVUSB"), DISK_UNIT);
    EXPECT_EQ(FindDevicePath(OPTICAL_UNIT_SEARCH_TEXT), OPTICAL_UNIT);
    // Any text but the optical unit's shares the other position.
    EXPECT_EQ(FindDevicePath(DISK_UNIT_SEARCH_TEXT), SECOND_DISK_UNIT);
    EXPECT_EQ(FindDevicePath(OPTICAL_UNIT_SEARCH_TEXT), SECOND_OPTICAL_UNIT);
    EXPECT_EQ(g_uDiskSearchIndex, 3u);
    EXPECT_EQ(g_uOpticalSearchIndex, 4u);
}

TEST_F(DeviceDiscoveryTest, HidesOnlyRemovableVolumesLabelledExactly) {
    fake.volumes = {
        {"C:\\", false, true, "TARQ K7Q0"},  // fixed disk
        {"D:\\", true, true, "tarq k7q0"},   // differs in case
        {"E:\\", true, true, "TARQ K7Q0"},
        {"F:\\", true, false, "TARQ K7Q0"},  // volume information not readable
        {"G:\\", true, true, "TARQ K7Q0 "},
        {"H:\\", true, true, "TARQ K7Q"},
        {"I:\\", true, true, "TARQ K7Q0"},
    };
    HideDisk();
    EXPECT_EQ(fake.removedMountPoints, (std::vector<std::string>{"E:\\", "I:\\"}));
    EXPECT_EQ(Traces(), "Hide Disk: E:\\\nHide Disk: I:\\\n");
}

}  // namespace
