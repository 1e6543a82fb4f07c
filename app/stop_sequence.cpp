#include "app/stop_sequence.h"

#include "app/shutdown.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"

void RunStopSequence(StopReason reason, const StopSequenceSteps& steps) {
    if (reason == StopReason::Suspend) {
        DebugPrint("PBT_APMSUSPEND detected, will stop vorn_kvusb!\n");
    } else {
        DebugPrint("KVUSB cd removed, will stop vorn_kvusb thread!\n");
    }
    steps.releaseTrayIcon();
    if (steps.contextMenuOpen()) {
        DebugPrint("vorn_kvusb quit with menu!\n");
        steps.destroyContextMenu();
        Shutdown();
        ExitProgram(0);
    }
    steps.postQuitMessage();
    if (reason == StopReason::OpticalUnitRemoved) {
        DebugPrint("DBT_DEVICEREMOVECOMPLETE: PostQuitMessage!\n");
    }
}
