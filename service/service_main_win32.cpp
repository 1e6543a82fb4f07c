// vorn_kvusb_service.exe, the device service of an installed machine. The service control
// manager runs it without arguments; the setup program runs it with one:
//   install     registers the service with its device trigger (or updates it)
//   stop        stops the service and waits until no agent runs, before files are replaced
//   uninstall   stops the service and removes it
// The exit code is 0, or the Windows error code that stands in the way.
#include <windows.h>

#include <cstring>

#include "service/device_service_win32.h"

int main(int argc, char** argv) {
    // A LocalSystem program loads system libraries from System32 only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (argc == 2 && std::strcmp(argv[1], "install") == 0) {
        return InstallDeviceService();
    }
    if (argc == 2 && std::strcmp(argv[1], "stop") == 0) {
        return StopDeviceService();
    }
    if (argc == 2 && std::strcmp(argv[1], "uninstall") == 0) {
        return UninstallDeviceService();
    }
    return RunDeviceService();
}
