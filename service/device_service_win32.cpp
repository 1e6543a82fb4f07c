#include "service/device_service_win32.h"

#include <windows.h>

#include "platform/debug_print.h"
#include "service/agent_process_win32.h"
#include "service/unit_server_win32.h"

namespace {

// How often the service, with no agent connected, asks whether the projector is still there.
constexpr DWORD PROBE_PERIOD_MS = 2000;
constexpr DWORD STOP_WAIT_HINT_MS = 10000;

struct DeviceService {
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};
    HANDLE stopRequested = nullptr;
    HANDLE sessionChanged = nullptr;
    UnitServer server;
    AgentProcess agent;
};

void ReportStatus(DeviceService* service, DWORD state, DWORD exitCode = NO_ERROR) {
    service->status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    service->status.dwCurrentState = state;
    service->status.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE
            : 0;
    service->status.dwWin32ExitCode = exitCode;
    service->status.dwWaitHint = state == SERVICE_RUNNING ? 0 : STOP_WAIT_HINT_MS;
    SetServiceStatus(service->statusHandle, &service->status);
}

DWORD WINAPI HandleControl(DWORD control, DWORD, void*, void* context) {
    auto* service = static_cast<DeviceService*>(context);
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            ReportStatus(service, SERVICE_STOP_PENDING);
            SetEvent(service->stopRequested);
            return NO_ERROR;
        case SERVICE_CONTROL_SESSIONCHANGE:
            // Logon, logoff, console connect and disconnect, remote connect: the choice is
            // made again from what the console is now.
            SetEvent(service->sessionChanged);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// The agent where the console's user is, and nowhere else.
void FollowConsole(DeviceService* service) {
    HANDLE token = nullptr;
    ConsoleSession console = QueryConsoleSession(&token);
    uint32_t chosen = ChooseAgentSession(console);
    DebugPrint("vorn_kvusb_service: console session %d: active %d, remote %d, user %d\n",
               static_cast<int>(console.id), console.active, console.remote, console.userSignedIn);
    AgentStep step = NextAgentStep(service->agent.session, chosen);
    if (step == AgentStep::Close || step == AgentStep::Replace) {
        EndAgent(&service->agent, &service->server);
    }
    service->server.clientSession = chosen;
    if (step == AgentStep::Start || step == AgentStep::Replace) {
        StartAgent(chosen, token, &service->agent);
    }
    if (token != nullptr) {
        CloseHandle(token);
    }
}

// Until a stop is asked for or the projector is gone.
void Serve(DeviceService* service) {
    FollowConsole(service);
    for (;;) {
        HANDLE waits[] = {service->stopRequested, service->sessionChanged, service->agent.process};
        DWORD count = service->agent.process != nullptr ? 3 : 2;
        DWORD woken = WaitForMultipleObjects(count, waits, FALSE, PROBE_PERIOD_MS);
        if (woken == WAIT_OBJECT_0) {
            return;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            FollowConsole(service);
        } else if (woken == WAIT_OBJECT_0 + 2) {
            // Its user chose Exit, or it ended with the projector: not started again until the
            // console changes.
            DWORD exitCode = 0;
            GetExitCodeProcess(service->agent.process, &exitCode);
            DebugPrint("vorn_kvusb_service: the agent ended (%lu)\n", exitCode);
            CloseHandle(service->agent.process);
            service->agent.process = nullptr;
        } else if (woken == WAIT_TIMEOUT && !service->server.serving &&
                   !ProjectorAnswers(&service->server)) {
            DebugPrint("vorn_kvusb_service: the projector is gone, the service stops\n");
            return;
        }
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
    static DeviceService service;
    service.statusHandle = RegisterServiceCtrlHandlerExW(SERVICE_NAME, HandleControl, &service);
    if (service.statusHandle == nullptr) {
        return;
    }
    ReportStatus(&service, SERVICE_START_PENDING);
    service.stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    service.sessionChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    service.server.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    service.server.backend = CreateSystemDeviceBackend();
    if (!OpenProjectorUnits(&service.server)) {
        ReportStatus(&service, SERVICE_STOPPED, ERROR_DEVICE_NOT_CONNECTED);
        return;
    }
    if (!StartUnitServer(&service.server)) {
        CloseProjectorUnits(&service.server);
        ReportStatus(&service, SERVICE_STOPPED, GetLastError());
        return;
    }
    ReportStatus(&service, SERVICE_RUNNING);
    DebugPrint("vorn_kvusb_service: running\n");
    Serve(&service);
    ReportStatus(&service, SERVICE_STOP_PENDING);
    EndAgent(&service.agent, &service.server);
    StopUnitServer(&service.server);
    CloseProjectorUnits(&service.server);
    DebugPrint("vorn_kvusb_service: stopped\n");
    ReportStatus(&service, SERVICE_STOPPED);
}

}  // namespace

int RunDeviceService() {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(SERVICE_NAME), ServiceMain},
                                    {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
