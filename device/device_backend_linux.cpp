#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device/device_backend.h"
#include "device/linux_scsi_units.h"
#include "device/linux_volumes.h"
#include "device/sg_io_request.h"

// The Linux backend: SG_IO on the units' sg nodes, the units from sysfs, the volumes from
// the mount table.

namespace {

struct LinuxUnit {
    int fd;
};

class LinuxDeviceBackend : public DeviceBackend {
  public:
    LinuxDeviceBackend(const char* sysfsRoot, const char* devRoot, const char* mountsFile)
        : sysfsRoot_(sysfsRoot), devRoot_(devRoot), mountsFile_(mountsFile) {}

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        // As the system fails a request on no handle.
        if (unit == nullptr) {
            return EBADF;
        }
        uint8_t sense[UINT8_MAX] = {};
        sg_io_hdr header = BuildSgIoRequest(request, sense);
        int result = ioctl(static_cast<LinuxUnit*>(unit)->fd, SG_IO, &header);
        return SgIoResult(result, result < 0 ? errno : 0, header);
    }

    // The list is read afresh for every entry, as the system's interface list would be.
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        std::vector<std::string> paths = ListScsiUnitPaths(sysfsRoot_);
        if (index >= paths.size()) {
            *error = ERROR_NO_MORE_ITEMS;
            return InterfaceLookup::EnumFailed;
        }
        *path = paths[index];
        return InterfaceLookup::Found;
    }

    // An error of EACCES means no permission on the unit's sg node (devRoot/sgN).
    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override {
        std::string node = SgNodeOfUnitPath(path);
        if (node.empty()) {
            *error = ENOENT;
            return nullptr;
        }
        int fd = open((devRoot_ + "/" + node).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            *error = static_cast<uint32_t>(errno);
            return nullptr;
        }
        return new LinuxUnit{fd};
    }

    void CloseUnit(DeviceHandle unit) override {
        if (auto* linuxUnit = static_cast<LinuxUnit*>(unit)) {
            close(linuxUnit->fd);
            delete linuxUnit;
        }
    }

    std::vector<VolumeInfo> ListVolumes() override {
        return ListMountedVolumes(sysfsRoot_, devRoot_, mountsFile_);
    }

    // Detached rather than unmounted outright, so that a volume in use loses its mount point
    // too, as a drive letter would be removed.
    void RemoveMountPoint(const std::string& root) override { umount2(root.c_str(), MNT_DETACH); }

    std::string SystemErrorText(uint32_t code) override {
        int err = code == ERROR_DEVICE_NOT_CONNECTED ? ENODEV : static_cast<int>(code);
        char text[256];
        return strerror_r(err, text, sizeof text);
    }

  private:
    std::string sysfsRoot_;
    std::string devRoot_;
    std::string mountsFile_;
};

}  // namespace

DeviceBackend* CreateLinuxDeviceBackend(const char* sysfsRoot, const char* devRoot,
                                        const char* mountsFile) {
    return new LinuxDeviceBackend(sysfsRoot, devRoot, mountsFile);
}

DeviceBackend* CreateSystemDeviceBackend() {
    return CreateLinuxDeviceBackend("/sys", "/dev", "/proc/self/mounts");
}
