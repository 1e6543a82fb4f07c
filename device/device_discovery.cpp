#include "device/device_discovery.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "device/frame_transfer.h"
#include "device/scsi_commands.h"
#include "platform/debug_print.h"

DeviceHandle g_hDisk1 = nullptr;
DeviceHandle g_hDisk2 = nullptr;
uint32_t g_USB3_0 = 0;
uint32_t g_uOpticalSearchIndex = 0;
uint32_t g_uDiskSearchIndex = 0;

namespace {

// Traces `format` with the system's text for `error`, when the system has one.
void TraceSystemError(const char* format, uint32_t error) {
    std::string text = g_pDeviceBackend->SystemErrorText(error);
    if (!text.empty()) {
        DebugPrint(format, text.c_str());
    }
}

void TraceLinkSpeed() {
    DebugPrint("g_USB3_0: 0x%x\n", g_USB3_0);
    switch (g_USB3_0 & LINK_SPEED_MASK) {
        case LINK_USB3_0:
            DebugPrint("USB 3.0\n");
            break;
        case LINK_USB2_0:
            DebugPrint("USB 2.0\n");
            break;
        case LINK_USB1_1:
            DebugPrint("USB 1.1\n");
            break;
    }
}

// Traces what the adapter behind a newly opened unit takes in one request; false when the
// system states nothing.
bool TraceAdapter(const char* unitName, DeviceHandle unit, TransferLimits* limits) {
    if (!g_pDeviceBackend->GetTransferLimits(unit, limits)) {
        return false;
    }
    DebugPrint(
        "%s adapter: AlignmentMask 0x%x, MaximumTransferLength %u, MaximumPhysicalPages "
        "%u\n",
        unitName, limits->alignmentMask, limits->maximumTransferLength,
        limits->maximumPhysicalPages);
    return true;
}

// Whether the optical unit's adapter takes a whole slice in one write from the staging
// buffer (or from a kept slice's slot, aligned as it is). One that cannot would fail every
// frame; better to say so once and not start.
bool OpticalAdapterTakesSlices(DeviceHandle unit) {
    TransferLimits limits;
    if (!TraceAdapter("Disk1", unit, &limits) ||
        AdapterTakes(limits, reinterpret_cast<uintptr_t>(g_TransferBuffer), SLICE_WRITE_BYTES)) {
        return true;
    }
    DebugPrint(
        "Disk1 adapter cannot take a %u-byte frame slice in one request, vorn_kvusb "
        "cannot run on it\n",
        SLICE_WRITE_BYTES);
    return false;
}

// Opens the next disk unit that reports a link into g_hDisk2. A unit with no link is closed
// and the search moves on. DEVICE_* as OpenDriverlessDevice.
int OpenDiskUnit() {
    for (;;) {
        uint32_t error = 0;
        bool listEnded = false;
        std::optional<std::string> path = FindDevicePath(DISK_UNIT_SEARCH_TEXT, &error, &listEnded);
        if (listEnded) {
            return DEVICE_NONE;
        }
        if (path) {
            DebugPrint("Disk2 Path: %s\n", path->c_str());
            g_hDisk2 = g_pDeviceBackend->OpenUnit(*path, &error);
        }
        if (!path || g_hDisk2 == nullptr) {
            DebugPrint("Error opening device. Error: %d\n", static_cast<int>(error));
            return DEVICE_NOT_OPENED;
        }
        TransferLimits limits;
        TraceAdapter("Disk2", g_hDisk2, &limits);
        scsi_cmd_read_link_speed();
        if ((g_USB3_0 & LINK_SPEED_MASK) != LINK_NONE) {
            return DEVICE_OPENED;
        }
        g_pDeviceBackend->CloseUnit(g_hDisk2);
        g_hDisk2 = nullptr;
    }
}

// Opens the next optical unit that takes the open command into g_hDisk1. A unit that
// answers it as unplugged is closed and the search moves on; other failures are let pass.
// A unit whose adapter cannot take a slice is refused before the projector is told anything.
int OpenOpticalUnit() {
    for (;;) {
        bool listEnded = false;
        std::optional<std::string> path =
            FindDevicePath(OPTICAL_UNIT_SEARCH_TEXT, nullptr, &listEnded);
        if (!path) {
            return listEnded ? DEVICE_NONE : DEVICE_NOT_OPENED;
        }
        DebugPrint("Disk1 Path: %s\n", path->c_str());
        uint32_t error = 0;
        g_hDisk1 = g_pDeviceBackend->OpenUnit(*path, &error);
        if (g_hDisk1 == nullptr) {
            DebugPrint("Error opening device. Error: %d\n", static_cast<int>(error));
            return DEVICE_NOT_OPENED;
        }
        if (!OpticalAdapterTakesSlices(g_hDisk1)) {
            return DEVICE_NOT_OPENED;
        }
        if (scsi_cmd_control_driverless(g_hDisk1, CTRL_OPEN) !=
            static_cast<int>(ERROR_DEVICE_NOT_CONNECTED)) {
            return DEVICE_OPENED;
        }
        g_pDeviceBackend->CloseUnit(g_hDisk1);
        g_hDisk1 = nullptr;
    }
}

}  // namespace

int OpenDriverlessDevice() {
    BuildEndMarker();
    int result = OpenDiskUnit();
    if (result != DEVICE_OPENED) {
        return result;
    }
    TraceLinkSpeed();
    result = OpenOpticalUnit();
    if (result != DEVICE_OPENED) {
        return result;
    }
    HideDisk();
    return DEVICE_OPENED;
}

std::optional<std::string> FindDevicePath(const char* text, uint32_t* error, bool* listEnded) {
    uint32_t& position = std::strcmp(text, OPTICAL_UNIT_SEARCH_TEXT) == 0 ? g_uOpticalSearchIndex
                                                                          : g_uDiskSearchIndex;
    uint32_t ownError = 0;
    uint32_t* lookupError = error != nullptr ? error : &ownError;
    for (uint32_t index = position;; ++index) {
        std::string path;
        switch (g_pDeviceBackend->GetDiskInterface(index, &path, lookupError)) {
            case InterfaceLookup::Found:
                if (PathContainsText(path, text)) {
                    position = index + 1;
                    return path;
                }
                continue;
            case InterfaceLookup::ListFailed:
                DebugPrint("SetupDiGetClassDevs failed!\n");
                return std::nullopt;
            case InterfaceLookup::NoMemory:
                DebugPrint("Failed to allocate memory.\n");
                return std::nullopt;
            case InterfaceLookup::EnumFailed:
                TraceSystemError("Error: %s", *lookupError);
                DebugPrint("SetupDiEnumDeviceInterfaces failed.\n");
                break;
            case InterfaceLookup::DetailFailed:
                TraceSystemError("SetupDiGetDeviceInterfaceDetail failed. Error: %s\n",
                                 *lookupError);
                break;
        }
        // The list ran out or cannot be read on: no further unit can be found.
        if (listEnded != nullptr) {
            *listEnded = true;
        }
        return std::nullopt;
    }
}

// The search texts are ASCII; the system may report the path in any case.
bool PathContainsText(const std::string& path, const char* text) {
    auto sameLetter = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    const char* textEnd = text + std::strlen(text);
    return std::search(path.begin(), path.end(), text, textEnd, sameLetter) != path.end();
}

void HideDisk() {
    for (const VolumeInfo& volume : g_pDeviceBackend->ListVolumes()) {
        if (volume.removable && volume.labelRead && volume.label == PROJECTOR_VOLUME_LABEL) {
            DebugPrint("Hide Disk: %s\n", volume.root.c_str());
            g_pDeviceBackend->RemoveMountPoint(volume.root);
        }
    }
}
