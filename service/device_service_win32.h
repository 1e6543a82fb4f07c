#pragma once

// The device service: its name with the service control manager, what the service control
// manager runs, and what the setup program runs.

inline constexpr wchar_t SERVICE_NAME[] = L"vorn_kvusb";

// Runs the service under the service control manager until it stops. 0, or the error of
// StartServiceCtrlDispatcher (the program was not started as a service).
int RunDeviceService();

// Registers the service (LocalSystem, started on demand and by its trigger), or updates it
// after an upgrade. 0, or the Windows error code that the setup program reports.
int InstallDeviceService();

// Stops the service, which closes its agent; waits until no agent runs. 0 also when there is
// no service.
int StopDeviceService();

// Stops the service and removes it. 0, or the Windows error code.
int UninstallDeviceService();
