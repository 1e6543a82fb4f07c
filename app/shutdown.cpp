#include "app/shutdown.h"

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/program_window.h"
#include "device/device_discovery.h"
#include "platform/debug_print.h"
#include "platform/timer.h"

std::atomic<int32_t> g_nShutdownState{SHUTDOWN_NONE};

namespace {
std::atomic<ProgramWindow*> g_pProgramWindow{nullptr};
thread_local bool t_bRunsShutdown = false;

void WindowStopsFaultPoll() {
    if (ProgramWindow* window = g_pProgramWindow.load()) {
        window->StopFaultPoll();
    }
}

// The desktop goes back on the window's thread, or on this one when the window's thread runs
// the shutdown itself.
void WindowRestoresDesktop() {
    ProgramWindow* window = g_pProgramWindow.load();
    if (window != nullptr && OnSenderThread()) {
        window->RunOnWindowThread(RestoreDesktopSize);
    } else {
        RestoreDesktopSize();
    }
}

void WindowReleasesTrayIcon() {
    if (ProgramWindow* window = g_pProgramWindow.load()) {
        window->ReleaseTrayIcon();
    }
}

bool BeginShutdown() {
    int32_t expected = SHUTDOWN_NONE;
    if (g_nShutdownState.compare_exchange_strong(expected, SHUTDOWN_RUNNING)) {
        t_bRunsShutdown = true;
        return true;
    }
    if (!OnSenderThread()) {
        while (g_nShutdownState.load() != SHUTDOWN_DONE) {
            SleepMsAnsweringMessages(1);
        }
    }
    return false;
}

void EndShutdown() {
    DebugPrint("vorn_kvusb end!\n");
    t_bRunsShutdown = false;
    g_nShutdownState.store(SHUTDOWN_DONE);
}

void CloseUnit(DeviceHandle& unit) {
    if (DeviceHandle handle = std::atomic_ref<DeviceHandle>(unit).exchange(nullptr)) {
        g_pDeviceBackend->CloseUnit(handle);
    }
}
}  // namespace

bool ShutdownBegun() {
    return g_nShutdownState.load() != SHUTDOWN_NONE;
}

void RestoreDesktopAfterCrash() {
    int32_t expected = SHUTDOWN_NONE;
    g_nShutdownState.compare_exchange_strong(expected, SHUTDOWN_RUNNING);  // nothing restarts
    RestoreDesktopAtOnce();
}

bool ShutdownRunsElsewhere() {
    return g_nShutdownState.load() == SHUTDOWN_RUNNING && !t_bRunsShutdown;
}

void AttachProgramWindow(ProgramWindow* window) {
    g_pProgramWindow.store(window);
}

bool Shutdown() {
    if (!BeginShutdown()) {
        return false;
    }
    WindowStopsFaultPoll();
    SetDisplaySettings();
    ReleaseCapture();
    CloseUnit(g_hDisk1);
    CloseUnit(g_hDisk2);
    WindowRestoresDesktop();
    WindowReleasesTrayIcon();
    EndShutdown();
    return true;
}

bool ShutdownAfterDeviceLoss() {
    if (!BeginShutdown()) {
        return false;
    }
    WindowStopsFaultPoll();
    SetDisplaySettings();
    WindowRestoresDesktop();
    WindowReleasesTrayIcon();
    EndShutdown();
    return true;
}
