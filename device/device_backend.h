#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/transfer_limits.h"

// The seam between the projector protocol and the operating system: SCSI pass-through to an
// open unit, the disk-interface list, opening units, and the removable volumes. Backends:
// win32 (DeviceIoControl, SetupAPI), linux (SG_IO, sysfs) and the virtual projector
// (emulator/), chosen at start-up.

using DeviceHandle = void*;  // an open unit; nullptr is none

// The system's own values; the Windows headers define them as macros, whichever header
// comes first.
#ifndef ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
#endif
#ifndef ERROR_NO_MORE_ITEMS
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
#endif
#ifndef SCSI_IOCTL_DATA_OUT
inline constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
inline constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
#endif

// One pass-through request, with the fields the layer sets in SCSI_PASS_THROUGH_DIRECT.
// A request with dataTransferLength 0 moves no data, whatever dataIn says.
struct ScsiRequest {
    uint8_t cdb[16];
    uint8_t targetId;         // 1, or 3 for the vendor read
    uint8_t senseInfoLength;  // 32, or 24 for the vendor read
    uint8_t dataIn;           // SCSI_IOCTL_DATA_OUT or SCSI_IOCTL_DATA_IN
    uint32_t dataTransferLength;
    uint32_t timeOutValue;  // seconds
    void* dataBuffer;
};

// Outcome of looking up one entry of the present disk interfaces. Every outcome but Found
// also sets the error code that says why.
enum class InterfaceLookup {
    Found,       // path holds the entry's device interface path
    ListFailed,  // the interface list could not be obtained
    EnumFailed,  // no entry at that index (past the end: ERROR_NO_MORE_ITEMS, or the query failed)
    NoMemory,    // the detail record could not be allocated
    DetailFailed,  // the entry's path could not be read
};

struct VolumeInfo {
    std::string root;  // "E:\" on Windows, the mount point elsewhere
    bool removable;
    bool labelRead;     // the volume information could be read
    std::string label;  // UTF-8
};

class DeviceBackend {
  public:
    virtual ~DeviceBackend() = default;

    // 0 when the request completed (whatever the device's SCSI status), else the OS error
    // code; ERROR_DEVICE_NOT_CONNECTED when the unit is gone.
    virtual uint32_t SendScsi(DeviceHandle unit, const ScsiRequest& request) = 0;

    // Entry `index` of the present disk interfaces, in a stable order; paths are UTF-8.
    virtual InterfaceLookup GetDiskInterface(uint32_t index, std::string* path,
                                             uint32_t* error) = 0;

    // Opens a unit for shared read and write; nullptr and *error on failure.
    virtual DeviceHandle OpenUnit(const std::string& path, uint32_t* error) = 0;
    virtual void CloseUnit(DeviceHandle unit) = 0;

    virtual std::vector<VolumeInfo> ListVolumes() = 0;
    virtual void RemoveMountPoint(const std::string& root) = 0;

    // The system's message text for an error code (UTF-8), empty when it has none.
    virtual std::string SystemErrorText(uint32_t code) = 0;

    // The limits of the adapter behind an open unit; false when the system does not state
    // any (the virtual projector, Linux's sg nodes), and none hold then.
    virtual bool GetTransferLimits(DeviceHandle unit, TransferLimits* limits);

    // A frame's bounds, as the frame senders mark them: BeginFrame before its first slice
    // write, EndFrame after its frame-done command or where it stops short. A backend that
    // carries a frame's requests together (the agent's) holds its writes between; the others
    // need neither.
    virtual void BeginFrame() {}
    virtual void EndFrame() {}
};

// The backend in use; set once at start-up before any unit is opened.
extern DeviceBackend* g_pDeviceBackend;

// The operating system's backend, defined by the backend file of each system; the caller owns
// it (in practice it lives until exit).
DeviceBackend* CreateSystemDeviceBackend();
#if defined(_WIN32)
// The agent's backend: every request goes to the device service over its local channel. When
// the service asks the agent to close, WM_CLOSE is posted to this process's windows of
// `windowClass`.
DeviceBackend* CreateServiceDeviceBackend(const wchar_t* windowClass);
// The system's message text for an error code, as the Windows backends give it.
std::string Win32SystemErrorText(uint32_t code);
#else
// The Linux backend with units and volumes looked up below these roots; tests pass a fake tree.
DeviceBackend* CreateLinuxDeviceBackend(const char* sysfsRoot, const char* devRoot,
                                        const char* mountsFile);
#endif
