#include "device/device_backend.h"

DeviceBackend* g_pDeviceBackend = nullptr;
