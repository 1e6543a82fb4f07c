// vorn_kvusb.exe, the program users run (elevated, as its manifest asks): the projector's
// units through the system, the desktop captured, traces to the debugger only. It reads no
// test variable, so nothing that can set the user's environment can steer it.
#include <windows.h>

#include "app/device_selection.h"
#include "app/instance_count.h"
#include "ui/tray_program.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    HardenProcess();
    SelectDeviceBackend(nullptr, nullptr);
    return RunTrayProgram(hInstance, PROGRAM_FILE_NAME);
}
