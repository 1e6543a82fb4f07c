#include "tests/device/device_test_support.h"

#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"

namespace {
std::string g_traces;
void CaptureTrace(const char* text) {
    g_traces += text;
}
[[noreturn]] void ThrowExit(int code) {
    throw ExitRequested{code};
}
}  // namespace

void DeviceTest::SetUp() {
    g_pDeviceBackend = &fake;
    g_hDisk1 = nullptr;
    g_hDisk2 = nullptr;
    g_USB3_0 = 0;
    g_uOpticalSearchIndex = 0;
    g_uDiskSearchIndex = 0;
    g_bFrameToggle = 0;
    g_traces.clear();
    SetTraceSink(CaptureTrace);
    SetExitHandler(ThrowExit);
}

void DeviceTest::TearDown() {
    SetExitHandler(nullptr);
    SetTraceSink(nullptr);
    g_pDeviceBackend = nullptr;
}

const std::string& DeviceTest::Traces() {
    return g_traces;
}
void DeviceTest::ClearTraces() {
    g_traces.clear();
}
