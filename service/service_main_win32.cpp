// vorn_kvusb_service.exe, the device service of an installed machine. The service control
// manager runs it without arguments; the setup program runs it with one:
//   install     registers the service with its device trigger (or updates it)
//   stop        stops the service and waits until no agent runs, before files are replaced
//   uninstall   stops the service and removes it
// The exit code is 0, or the Windows error code that stands in the way.
#include <windows.h>

#include <cstring>

#include "platform/debug_print.h"
#include "service/device_service_win32.h"

namespace {

// What costs this program nothing: no legacy extension DLLs loaded into it, no image from a
// remote share or of a low mandatory label, and an invalid handle an error rather than a
// value. Policies a system does not know are left as they are.
void Harden() {
    PROCESS_MITIGATION_EXTENSION_POINT_DISABLE_POLICY extensions{};
    extensions.DisableExtensionPoints = 1;
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY images{};
    images.NoRemoteImages = 1;
    images.NoLowMandatoryLabelImages = 1;
    PROCESS_MITIGATION_STRICT_HANDLE_CHECK_POLICY handles{};
    handles.RaiseExceptionOnInvalidHandleReference = 1;
    handles.HandleExceptionsPermanentlyEnabled = 1;
    const bool set =
        SetProcessMitigationPolicy(ProcessExtensionPointDisablePolicy, &extensions,
                                   sizeof extensions) &&
        SetProcessMitigationPolicy(ProcessImageLoadPolicy, &images, sizeof images) &&
        SetProcessMitigationPolicy(ProcessStrictHandleCheckPolicy, &handles, sizeof handles);
    if (!set) {
        DebugPrint("vorn_kvusb_service: a mitigation policy was not set (%lu)\n", GetLastError());
    }
}

}  // namespace

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
    Harden();
    return RunDeviceService();
}
