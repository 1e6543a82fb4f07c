#include "device/device_backend.h"

DeviceBackend* g_pDeviceBackend = nullptr;

bool DeviceBackend::GetTransferLimits(DeviceHandle, TransferLimits*) {
    return false;
}
