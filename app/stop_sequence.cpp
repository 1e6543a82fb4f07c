#include "app/stop_sequence.h"

#include "app/program_window.h"
#include "app/shutdown.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"

void RunStopSequence(StopReason reason, ProgramWindow& window) {
    if (reason == StopReason::Suspend) {
        DebugPrint("PBT_APMSUSPEND detected, will stop vorn_kvusb!\n");
    } else {
        DebugPrint("KVUSB cd removed, will stop vorn_kvusb thread!\n");
    }
    window.ReleaseTrayIcon();
    if (window.ContextMenuOpen()) {
        DebugPrint("vorn_kvusb quit with menu!\n");
        window.DestroyContextMenu();
        Shutdown();
        ExitProgram(RunEnd::Stopped);
    }
    window.PostQuit();
    if (reason == StopReason::OpticalUnitRemoved) {
        DebugPrint("DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n");
    }
}
