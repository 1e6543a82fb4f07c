#include "tray_fixture.h"

#include <cstdlib>
#include <mutex>

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"
#include "ui/menu_commands.h"

namespace {
std::mutex g_traceLock;
std::vector<std::string> g_traces;
SettingsStore* g_savedStore = nullptr;
Desktop* g_savedDesktop = nullptr;

void CaptureTrace(const char* text) {
    std::lock_guard<std::mutex> hold(g_traceLock);
    g_traces.emplace_back(text);
}

[[noreturn]] void ThrowExit(int code) {
    throw ExitCalled{code};
}
}  // namespace

void TrayTest::SetUp() {
    ClearTraces();
    SetTraceSink(CaptureTrace);
    SetExitHandler(ThrowExit);
    g_savedStore = g_pSettingsStore;
    g_savedDesktop = g_pDesktop;
    g_pSettingsStore = &store_;
    g_pDesktop = &desktop_;
    g_nShutdownState.store(SHUTDOWN_NONE);
    SetUiShutdownSteps(nullptr, nullptr);
    DispMode.store(DISP_MODE_MIRROR);
    ZoomMode.store(ZOOM_ORIGINAL);
    PowerMode = 0;
    g_nScreenWidth = kStartWidth;
    g_nScreenHeight = kStartHeight;
    g_nCaptureZoom = ZOOM_ORIGINAL;
    g_hDisk1 = nullptr;
    g_hDisk2 = nullptr;
    g_uOpticalSearchIndex = 0;
    g_uDiskSearchIndex = 0;
#if defined(_WIN32)
    _putenv_s("VORN_KVUSB_CAPTURE", "synthetic");
#else
    setenv("VORN_KVUSB_CAPTURE", "synthetic", 1);
#endif
}

void TrayTest::TearDown() {
    if (g_hCapture.load() != NO_CAPTURE) {
        ReleaseCapture();
    }
    g_pDeviceBackend = nullptr;
    projector_.reset();
    g_pSettingsStore = g_savedStore;
    g_pDesktop = g_savedDesktop;
    SetExitHandler(nullptr);
    SetTraceSink(nullptr);
}

void TrayTest::AttachProjector(const std::string& options) {
    emu::VirtualConfig config;
    std::string error;
    ASSERT_TRUE(emu::ParseVirtualConfig(options.empty() ? "virtual" : "virtual:" + options, &config,
                                        &error))
        << error;
    projector_ = std::make_unique<emu::VirtualProjector>(config);
    g_pDeviceBackend = projector_.get();
    ASSERT_EQ(OpenDriverlessDevice(), 1);
    ClearTraces();  // the device search's own
}

void TrayTest::StartSession(int zoom) {
    InitCapture();
    CreateCapture();
    g_nCaptureZoom = zoom;
    OpenCapture();
    ASSERT_EQ(g_nCaptureState.load(), CAPTURE_RUNNING);
}

std::vector<std::string> TrayTest::Traces() {
    std::lock_guard<std::mutex> hold(g_traceLock);
    return g_traces;
}

void TrayTest::ClearTraces() {
    std::lock_guard<std::mutex> hold(g_traceLock);
    g_traces.clear();
}
