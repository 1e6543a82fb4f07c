#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/device_backend.h"

// A recording stand-in for the operating system: every SCSI request is kept with a copy of
// the bytes it sends, and results, replies and the interface and volume lists are scripted.
struct RecordedCommand {
    DeviceHandle unit;
    ScsiRequest request;
    std::vector<uint8_t> dataOut;
};

class FakeDeviceBackend : public DeviceBackend {
  public:
    std::vector<RecordedCommand> commands;
    std::map<size_t, uint32_t> failCommand;                // command index -> error code
    std::map<DeviceHandle, uint32_t> failUnit;             // every command on the unit fails
    std::map<DeviceHandle, std::vector<uint8_t>> replies;  // data-in bytes per unit
    // When set, answers in place of the scripted results (after recording).
    std::function<uint32_t(const ScsiRequest&)> responder;

    std::vector<std::string> interfaces;
    std::map<uint32_t, std::pair<InterfaceLookup, uint32_t>> lookupFailures;  // by index
    std::map<std::string, uint32_t> openErrors;                               // by path
    std::vector<DeviceHandle> closed;

    std::vector<VolumeInfo> volumes;
    std::vector<std::string> removedMountPoints;
    std::map<uint32_t, std::string> errorTexts;
    std::map<DeviceHandle, TransferLimits> adapterLimits;  // units whose adapter states them

    // The handle OpenUnit gives for interface `index`.
    static DeviceHandle HandleOf(size_t index);

    uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) override;
    InterfaceLookup GetDiskInterface(uint32_t index, std::string* path, uint32_t* error) override;
    DeviceHandle OpenUnit(const std::string& path, uint32_t* error) override;
    void CloseUnit(DeviceHandle unit) override { closed.push_back(unit); }
    std::vector<VolumeInfo> ListVolumes() override { return volumes; }
    void RemoveMountPoint(const std::string& root) override { removedMountPoints.push_back(root); }
    std::string SystemErrorText(uint32_t code) override;
    bool GetTransferLimits(DeviceHandle unit, TransferLimits* limits) override;
};

// The 16 bytes of a CDB written as hex pairs, "FD 00 ..."
std::vector<uint8_t> Bytes(const char* hex);
std::vector<uint8_t> CdbOf(const RecordedCommand& command);
