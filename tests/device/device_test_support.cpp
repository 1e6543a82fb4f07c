#include "tests/device/device_test_support.h"

#include "device/device_discovery.h"
#include "device/frame_transfer.h"

void DeviceTest::SetUp() {
    g_pDeviceBackend = &fake;
    g_hDisk1 = nullptr;
    g_hDisk2 = nullptr;
    g_USB3_0 = 0;
    g_uOpticalSearchIndex = 0;
    g_uDiskSearchIndex = 0;
    g_bFrameToggle = 0;
    ClearTraces();
}

void DeviceTest::TearDown() {
    g_pDeviceBackend = nullptr;
}

void OpenUnitsTest::SetUp() {
    DeviceTest::SetUp();
    g_hDisk1 = FakeDeviceBackend::HandleOf(1);
    g_hDisk2 = FakeDeviceBackend::HandleOf(2);
    BuildEndMarker();
}
