#include "app/device_selection.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "device/device_backend.h"
#include "emulator/virtual_config.h"
#include "emulator/virtual_projector.h"
#include "platform/debug_print.h"

namespace {
// Lives until exit, when the virtual projector writes its report.
std::unique_ptr<DeviceBackend> g_pSelectedBackend;

std::unique_ptr<DeviceBackend> SystemBackend() {
#if defined(_WIN32)
    return std::unique_ptr<DeviceBackend>(CreateWin32DeviceBackend());
#else
    return std::unique_ptr<DeviceBackend>(CreateLinuxDeviceBackend());
#endif
}
}  // namespace

bool SelectDeviceBackend() {
    const char* selection = std::getenv(emu::kDeviceEnvVar);
    if (selection != nullptr && emu::SelectsVirtualProjector(selection)) {
        emu::VirtualConfig config;
        std::string error;
        if (!emu::ParseVirtualConfig(selection, &config, &error)) {
            DebugPrint("VORN_KVUSB_DEVICE: %s\n", error.c_str());
            return false;
        }
        g_pSelectedBackend = std::make_unique<emu::VirtualProjector>(config);
    } else {
        g_pSelectedBackend = SystemBackend();
    }
    g_pDeviceBackend = g_pSelectedBackend.get();
    return true;
}
