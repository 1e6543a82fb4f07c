#include "app/device_selection.h"

#include "device/device_backend.h"
#include "platform/debug_print.h"

bool SelectDeviceBackend(const char* request, VirtualProjectorMaker makeVirtual) {
    DeviceBackend* backend = nullptr;
    std::string error;
    if (makeVirtual != nullptr && !makeVirtual(request, &backend, &error)) {
        DebugPrint("VORN_KVUSB_DEVICE: %s\n", error.c_str());
        return false;
    }
    // Never destroyed: the window thread may still poll the projector while the sender thread
    // ends the process.
    g_pDeviceBackend = backend != nullptr ? backend : CreateSystemDeviceBackend();
    return true;
}
