// vorn_kvusb_agent.exe, the tray program as the device service starts it in the console
// user's session on an installed machine: the user's own rights (asInvoker), settings,
// capture and display modes; the projector's units through the service, which owns them.
#include <windows.h>

#include "device/device_backend.h"
#include "ui/tray_program.h"
#include "ui/tray_window.h"

namespace {
constexpr char kAgentFileName[] = "vorn_kvusb_agent.exe";
}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    HardenProcess();
    // Never destroyed, as the system's backend is not.
    g_pDeviceBackend = CreateServiceDeviceBackend(TRAY_WINDOW_CLASS);
    return RunTrayProgram(hInstance, kAgentFileName);
}
