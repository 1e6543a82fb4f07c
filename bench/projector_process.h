#pragma once

#include <memory>

#include "device/device_backend.h"
#include "emulator/virtual_config.h"

// The virtual projector in a child process of its own, so that the memory and the time the
// program's process spends are the program's alone, as with a real projector. The projector is
// found and opened in this process as the program does it; then a child takes over with a
// projector of the same configuration, and every SCSI request after that crosses a socket pair
// to it, data and reply included.
class ProjectorProcess final : public DeviceBackend {
  public:
    // Finds and opens the projector (OpenDriverlessDevice), then starts the child. Null, with
    // the reason on stderr, when either fails.
    static std::unique_ptr<ProjectorProcess> Start(const emu::VirtualConfig& config);
    // Ends the child; false when its projector saw a protocol error.
    bool Finish();
    ~ProjectorProcess() override;

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override;
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override;
    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override;
    void CloseUnit(DeviceHandle unit) override;
    std::vector<VolumeInfo> ListVolumes() override;
    void RemoveMountPoint(const std::string& root) override;
    std::string SystemErrorText(uint32_t code) override;

  private:
    ProjectorProcess() = default;

    int m_socket = -1;
    int m_child = -1;
};
