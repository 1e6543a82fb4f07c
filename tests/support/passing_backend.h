#pragma once

#include <string>
#include <vector>

#include "device/device_backend.h"

// A device backend that hands everything on to another (the virtual projector), for a test
// that watches or holds some of the commands by overriding SendScsi.
class PassingBackend : public DeviceBackend {
  public:
    explicit PassingBackend(DeviceBackend* to) : m_to(to) {}

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override {
        return m_to->SendScsi(unit, request);
    }
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override {
        return m_to->GetDiskInterface(index, path, error);
    }
    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override {
        return m_to->OpenUnit(path, error);
    }
    void CloseUnit(DeviceHandle unit) override { m_to->CloseUnit(unit); }
    std::vector<VolumeInfo> ListVolumes() override { return m_to->ListVolumes(); }
    void RemoveMountPoint(const std::string& root) override { m_to->RemoveMountPoint(root); }
    std::string SystemErrorText(uint32_t code) override { return m_to->SystemErrorText(code); }

  private:
    DeviceBackend* const m_to;
};
