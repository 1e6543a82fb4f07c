#pragma once

#include <windows.h>

#include "device/service_channel.h"

// The device service: its name with the service control manager, what the service control
// manager runs, and what the setup program runs.

inline constexpr const wchar_t* SERVICE_NAME = DEVICE_SERVICE_NAME;

// GUID_DEVINTERFACE_DISK: both of the projector's units appear in it. Their arrival starts the
// service; their arrival and removal are what it watches while it runs.
inline constexpr GUID DISK_INTERFACE_CLASS = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Wine says what it is through ntdll. It refuses service triggers (1733) and sends the
// service no device events.
bool RunningUnderWine();

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
