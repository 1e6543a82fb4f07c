#include "ui/tray_program.h"

#include "app/program.h"
#include "app/shutdown.h"
#include "ui/session_watch.h"
#include "ui/tray_window.h"

namespace {
// A crash must not leave the user's desktop at 800 x 600.
LONG WINAPI RestoreDesktopOnCrash(EXCEPTION_POINTERS*) {
    RestoreDesktopAfterCrash();
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

void HardenProcess() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetErrorMode(SEM_FAILCRITICALERRORS);
}

int RunTrayProgram(HINSTANCE instance, const char* instanceFileName) {
    SetUnhandledExceptionFilter(RestoreDesktopOnCrash);
    g_hInstance = instance;
    ReadSessionState();
    // Attached to the shutdowns, which the sender thread may still run as the process ends.
    static TrayWindow window;
    return RunProgram(instanceFileName, window);
}
