#include "app/device_selection.h"

#include "device/device_backend.h"
#include "device/unit_access.h"
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

bool SelectProjector(const char* request, VirtualProjectorMaker makeVirtual, const char* program,
                     std::string* error) {
    if (!SelectDeviceBackend(request, makeVirtual)) {
        *error = "bad VORN_KVUSB_DEVICE";
        return false;
    }
    return CheckProjectorUnits(g_pDeviceBackend, program, error);
}
