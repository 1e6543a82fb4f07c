#include "app/device_selection.h"

#include <cstdlib>
#include <string>

#include "device/device_backend.h"
#include "emulator/virtual_config.h"
#include "emulator/virtual_projector.h"
#include "platform/debug_print.h"

namespace {
DeviceBackend* SystemBackend() {
#if defined(_WIN32)
    return CreateWin32DeviceBackend();
#else
    return CreateLinuxDeviceBackend();
#endif
}
}  // namespace

bool SelectDeviceBackend() {
    return SelectDeviceBackendFrom(std::getenv(emu::kDeviceEnvVar));
}

bool SelectDeviceBackendFrom(const char* selection) {
    if (selection != nullptr && emu::SelectsVirtualProjector(selection)) {
        emu::VirtualConfig config;
        std::string error;
        if (!emu::ParseVirtualConfig(selection, &config, &error)) {
            DebugPrint("VORN_KVUSB_DEVICE: %s\n", error.c_str());
            return false;
        }
        // Never destroyed, like the system's: the window thread may still poll the projector
        // while the sender thread ends the process. Its report is written at every frame.
        g_pDeviceBackend = new emu::VirtualProjector(config);
    } else {
        g_pDeviceBackend = SystemBackend();
    }
    return true;
}
