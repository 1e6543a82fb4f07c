#include "ui/tray_program.h"

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

int RunTrayProgram(HINSTANCE instance, const char* instanceFileName) {
    SetUnhandledExceptionFilter(RestoreDesktopOnCrash);
    g_hInstance = instance;
    return RunProgram(instanceFileName, RunTrayWindow);
}
