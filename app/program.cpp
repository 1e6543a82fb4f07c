#include "app/program.h"

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/instance_count.h"
#include "app/program_window.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "platform/debug_print.h"
#include "platform/desktop.h"
#include "platform/process_exit.h"

int RunProgram(const char* instanceFileName, ProgramWindow& window) {
    if (instanceFileName != nullptr && CountInstances(instanceFileName) > 1) {
        return 0;
    }
    DebugPrint("vorn_kvusb started!\n");
    g_nScreenWidth = g_pDesktop->Width();
    g_nScreenHeight = g_pDesktop->Height();
    // The program, not the search, ends the process: with no projector there is no run.
    int opened = OpenDriverlessDevice();
    if (opened == DEVICE_NONE) {
        ExitProgram(RunEnd::NoProjector);
    }
    if (opened != DEVICE_OPENED) {
        return 0;
    }
    g_nCaptureZoom = ZOOM_ORIGINAL;
    InitCapture();
    CreateCapture();
    ApplySavedDisplayMode();
    OpenCapture();
    window.RunLoop();
    DebugPrint("return from CreateMyWindow!\n");
    Shutdown();
    return 0;
}
