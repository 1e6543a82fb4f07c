#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "device/device_discovery.h"
#include "device/linux_scsi_units.h"
#include "device/linux_volumes.h"
#include "tests/device/device_test_support.h"

namespace fs = std::filesystem;

namespace {

// A sysfs, /dev and mount table made in a temporary directory.
class FakeTree {
  public:
    FakeTree() {
        std::string pattern = (fs::temp_directory_path() / "kv_device_XXXXXX").string();
        root_ = mkdtemp(pattern.data());
    }
    ~FakeTree() { fs::remove_all(root_); }

    std::string Path(const std::string& relative) const { return (root_ / relative).string(); }
    std::string Sys() const { return Path("sys"); }
    std::string Dev() const { return Path("dev"); }
    std::string Mounts() const { return Path("mounts"); }

    void File(const std::string& relative, const std::string& content) const {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        std::ofstream(Path(relative)) << content;
    }
    void Link(const std::string& relative, const std::string& target) const {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        fs::create_symlink(target, Path(relative));
    }

    // One SCSI unit as sysfs shows it, with its sg node in /dev.
    void Unit(const std::string& hctl, int type, const std::string& vendor,
              const std::string& model, const std::string& rev, const std::string& sg) const {
        std::string dir = "sys/bus/scsi/devices/" + hctl + "/";
        File(dir + "type", std::to_string(type) + "\n");
        File(dir + "vendor", vendor + "\n");
        File(dir + "model", model + "\n");
        File(dir + "rev", rev + "\n");
        if (!sg.empty()) {
            fs::create_directories(Path(dir + "scsi_generic/" + sg));
            File("dev/" + sg, "");
        }
    }

    // The projector's two units behind a USB host, an internal disk, a tape and the host
    // and target entries that share the directory.
    void Projector() const {
        fs::create_directories(Path("sys/bus/scsi/devices/host6"));
        fs::create_directories(Path("sys/bus/scsi/devices/target6:0:0"));
        Unit("10:0:0:0", 0, "ATA     ", "Quillon SSD 512 ", "Q1B2", "sg0");
        Unit("6:0:0:1", 0, "KVUSB   ", "TR40W17B6-2     ", "1.00", "sg3");
        Unit("6:0:0:0", 5, "KVUSB   ", "TR40W17B6-1     ", "1.00", "sg2");
        Unit("2:0:0:0", 1, "TAPEKO  ", "Streamer LT5    ", "T5Z1", "sg1");
    }

  private:
    fs::path root_;
};

const char* const OPTICAL_PATH = "USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00#6:0:0:0#sg2";
const char* const DISK_PATH = "USBSTOR#Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00#6:0:0:1#sg3";
const char* const SSD_PATH = "USBSTOR#Disk&Ven_ATA&Prod_Quillon_SSD_512&Rev_Q1B2#10:0:0:0#sg0";

TEST(LinuxScsiUnits, DiskAndOpticalUnitsInHostOrderNamedLikeInterfacePaths) {
    FakeTree tree;
    tree.Projector();
    EXPECT_EQ(ListScsiUnitPaths(tree.Sys()),
              (std::vector<std::string>{OPTICAL_PATH, DISK_PATH, SSD_PATH}));
    EXPECT_TRUE(ListScsiUnitPaths(tree.Path("nothing")).empty());
}

TEST(LinuxScsiUnits, IdentifierNamesTheSgNode) {
    EXPECT_EQ(BuildUnitInterfacePath(7, "KVUSB", "TR40W17B6-1", "1.00", "1:0:0:0", "sg12"),
              "USBSTOR#Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00#1:0:0:0#sg12");
    EXPECT_EQ(BuildUnitInterfacePath(1, "TAPEKO", "Streamer", "T5Z1", "1:0:0:0", "sg1"), "");
    EXPECT_EQ(SgNodeOfUnitPath(DISK_PATH), "sg3");
    EXPECT_EQ(SgNodeOfUnitPath("USBSTOR#Disk&Ven_A&Prod_B&Rev_C#1:0:0:0#"), "");
    EXPECT_EQ(SgNodeOfUnitPath("USBSTOR#Disk#1:0:0:0#../sda"), "");
    EXPECT_EQ(SgNodeOfUnitPath("sg3"), "");
}

class LinuxBackendTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        tree.Projector();
        backend.reset(CreateLinuxDeviceBackend(tree.Sys().c_str(), tree.Dev().c_str(),
                                               tree.Mounts().c_str()));
        g_pDeviceBackend = backend.get();
    }

    FakeTree tree;
    std::unique_ptr<DeviceBackend> backend;
};

TEST_F(LinuxBackendTest, SearchTextsFindTheUnitsAndTheirNodesOpen) {
    EXPECT_EQ(FindDevicePath(DISK_UNIT_SEARCH_TEXT), DISK_PATH);
    EXPECT_EQ(FindDevicePath(OPTICAL_UNIT_SEARCH_TEXT), OPTICAL_PATH);

    uint32_t error = 0;
    DeviceHandle unit = backend->OpenUnit(DISK_PATH, &error);
    ASSERT_NE(unit, nullptr);
    // A plain file is no SCSI device: a failure, but not an unplugged projector.
    ScsiRequest request{};
    request.cdb[0] = 0xFD;
    EXPECT_EQ(backend->SendScsi(unit, request), uint32_t{ENOTTY});
    backend->CloseUnit(unit);
    // Status polls may run before any unit is open.
    EXPECT_EQ(backend->SendScsi(nullptr, request), uint32_t{EBADF});

    std::string path;
    EXPECT_EQ(backend->GetDiskInterface(3, &path, &error), InterfaceLookup::EnumFailed);
    EXPECT_EQ(error, ERROR_NO_MORE_ITEMS);
}

TEST_F(LinuxBackendTest, UnitThatAnswersNoSgIoHasNoLinkAndTheSearchRunsOut) {
    EXPECT_EQ(OpenDriverlessDevice(), DEVICE_NONE);
    EXPECT_NE(Traces().find(std::string("Disk2 Path: ") + DISK_PATH + "\n"), std::string::npos);
}

TEST_F(LinuxBackendTest, MissingNodeIsReported) {
    uint32_t error = 0;
    EXPECT_EQ(backend->OpenUnit("USBSTOR#Disk&Ven_A&Prod_B&Rev_C#1:0:0:0#", &error), nullptr);
    EXPECT_EQ(error, uint32_t{ENOENT});
    EXPECT_EQ(backend->OpenUnit("USBSTOR#Disk&Ven_A&Prod_B&Rev_C#1:0:0:0#sg9", &error), nullptr);
    EXPECT_EQ(error, uint32_t{ENOENT});
}

// Opening a node the user may not open gives EACCES, whose text says so; the path traced
// before it names the node. As root the check runs in a child that drops to nobody.
TEST_F(LinuxBackendTest, NodeWithoutPermissionGivesPermissionDenied) {
    ASSERT_EQ(chmod(tree.Path("dev/sg3").c_str(), 0), 0);
    ASSERT_EQ(chmod(tree.Path("dev").c_str(), 0755), 0);
    auto openError = [&] {
        uint32_t error = 0;
        DeviceHandle unit = backend->OpenUnit(DISK_PATH, &error);
        if (unit != nullptr) {
            backend->CloseUnit(unit);
        }
        return error;
    };
    uint32_t error = 0;
    if (geteuid() != 0) {
        error = openError();
    } else {
        // The temporary directory must be searchable by the unprivileged child.
        for (fs::path dir = tree.Path("dev"); dir != dir.root_path(); dir = dir.parent_path()) {
            if (dir.filename().string().rfind("kv_device_", 0) == 0) {
                chmod(dir.c_str(), 0755);
            }
        }
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            _exit(setuid(65534) == 0 ? static_cast<int>(openError()) : 255);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        error = static_cast<uint32_t>(WEXITSTATUS(status));
    }
    EXPECT_EQ(error, uint32_t{EACCES});
    EXPECT_EQ(backend->SystemErrorText(error), "Permission denied");
    EXPECT_EQ(backend->SystemErrorText(ERROR_DEVICE_NOT_CONNECTED), "No such device");
}

TEST_F(LinuxBackendTest, VolumesCarryRemovabilityAndLabel) {
    // sdb: the projector's removable disk; sda: the fixed system disk; sdc: a stick.
    tree.File("sys/block/sda/removable", "0\n");
    fs::create_directories(tree.Path("sys/block/sda/sda2"));
    tree.File("sys/block/sdb/removable", "1\n");
    fs::create_directories(tree.Path("sys/block/sdb/sdb1"));
    tree.File("sys/block/sdc/removable", "1\n");
    for (const char* node : {"sda2", "sdb1", "sdc"}) {
        tree.File(std::string("dev/") + node, "");
    }
    tree.Link("dev/disk/by-label/TARQ\\x20K7Q0", "../../sdb1");
    tree.Link("dev/disk/by-label/tarq\\x20k7q0", "../../sdc");
    tree.Link("dev/disk/by-label/system", "../../sda2");
    tree.File("mounts",
              "proc /proc proc rw 0 0\n"
              "/dev/sda2 / ext4 rw 0 0\n"
              "/dev/sdb1 /media/user/TARQ\\040K7Q0 vfat rw 0 0\n"
              "/dev/sdc /media/user/stick vfat rw 0 0\n"
              "/dev/sdd /media/gone vfat rw 0 0\n");

    std::vector<VolumeInfo> volumes = backend->ListVolumes();
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].root, "/");
    EXPECT_FALSE(volumes[0].removable);
    EXPECT_EQ(volumes[0].label, "system");
    EXPECT_EQ(volumes[1].root, "/media/user/TARQ K7Q0");
    EXPECT_TRUE(volumes[1].removable);
    EXPECT_TRUE(volumes[1].labelRead);
    EXPECT_EQ(volumes[1].label, "TARQ K7Q0");
    EXPECT_EQ(volumes[2].root, "/media/user/stick");
    EXPECT_TRUE(volumes[2].removable);
    EXPECT_EQ(volumes[2].label, "tarq k7q0");
}

TEST(LinuxVolumes, EscapesAreDecoded) {
    EXPECT_EQ(DecodeMountField("/media/a\\040b\\011c"), "/media/a b\tc");
    EXPECT_EQ(DecodeMountField("/media/a\\09b\\"), "/media/a\\09b\\");
    EXPECT_EQ(DecodeLabelLinkName("TARQ\\x20K7Q0"), "TARQ K7Q0");
    EXPECT_EQ(DecodeLabelLinkName("a\\x2Fb\\x2"), "a/b\\x2");
}

}  // namespace
