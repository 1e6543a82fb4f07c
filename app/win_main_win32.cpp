#include <windows.h>

#include "app/device_selection.h"
#include "app/program.h"
#include "app/shutdown.h"
#include "ui/tray_window.h"

namespace {
// A crash must not leave the user's desktop at 800 x 600.
LONG WINAPI RestoreDesktopOnCrash(EXCEPTION_POINTERS*) {
    RestoreDesktopAfterCrash();
    return EXCEPTION_CONTINUE_SEARCH;
}

int RunTrayWindow() {
    return CreateMyWindow(g_hInstance);
}
}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    SetUnhandledExceptionFilter(RestoreDesktopOnCrash);
    if (!SelectDeviceBackend()) {
        return 0;
    }
    g_hInstance = hInstance;
    return RunProgram(RunTrayWindow);
}
