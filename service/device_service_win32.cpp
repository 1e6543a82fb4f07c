#include "service/device_service_win32.h"

#include <windows.h>

#include <dbt.h>

#include "platform/debug_print.h"
#include "platform/system_library_win32.h"
#include "service/agent_process_win32.h"
#include "service/unit_server_win32.h"

namespace {

// How often the service, with no agent connected, asks whether the projector is still there.
constexpr DWORD PROBE_PERIOD_MS = 2000;
constexpr DWORD STOP_WAIT_HINT_MS = 10000;
// How long the service waits, once the projector is gone, for one to be plugged in again
// before it stops.
constexpr ULONGLONG IDLE_STOP_MS = 5000;
// Agents started again in a row when each ended before the pipe served it.
constexpr int UNSERVED_STARTS = 5;

struct DeviceService {
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};
    HANDLE stopRequested = nullptr;
    HANDLE sessionChanged = nullptr;
    HANDLE disksChanged = nullptr;  // a disk interface arrived or was removed
    HDEVNOTIFY diskNotification = nullptr;
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

DWORD WINAPI HandleControl(DWORD control, DWORD eventType, void*, void* context) {
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
        case SERVICE_CONTROL_DEVICEEVENT:
            // Whether it is the projector is asked on the service's own thread: the handler
            // must return at once.
            if (eventType == DBT_DEVICEARRIVAL || eventType == DBT_DEVICEREMOVECOMPLETE) {
                SetEvent(service->disksChanged);
            }
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
    // Whoever the previous user ran, not only the agent, lets go of the projector.
    SetServedUser(&service->server, chosen, token);
    // An agent finding another process at the pipe's name would end at once: it is started
    // once the name is the service's.
    const bool pipeReady = WaitForSingleObject(service->server.listening, 0) == WAIT_OBJECT_0;
    if ((step == AgentStep::Start || step == AgentStep::Replace) && pipeReady &&
        StartAgent(chosen, token, &service->agent)) {
        service->server.agentServed = false;
        service->server.agentProcessId = GetProcessId(service->agent.process);
    }
    if (token != nullptr) {
        CloseHandle(token);
    }
}

using RegisterNotification = HDEVNOTIFY(WINAPI*)(HANDLE, void*, DWORD);
using UnregisterNotification = BOOL(WINAPI*)(HDEVNOTIFY);

// Arrivals and removals of disk interfaces, to the control handler. Not under Wine, which
// sends none for the units of the tests, and where user32 in the service keeps the agent it
// starts from closing its own window when asked: there the probe finds the projector gone.
void WatchDisks(DeviceService* service) {
    if (RunningUnderWine()) {
        DebugPrint("vorn_kvusb_service: no device events under Wine\n");
        return;
    }
    static auto registerNotification =
        SystemFunctionAs<RegisterNotification>(L"user32.dll", "RegisterDeviceNotificationW");
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = DISK_INTERFACE_CLASS;
    service->diskNotification =
        registerNotification != nullptr
            ? registerNotification(service->statusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE)
            : nullptr;
    if (service->diskNotification == nullptr) {
        DebugPrint("vorn_kvusb_service: RegisterDeviceNotification failed (%lu)\n", GetLastError());
    }
}

void StopWatchingDisks(DeviceService* service) {
    static auto unregisterNotification =
        SystemFunctionAs<UnregisterNotification>(L"user32.dll", "UnregisterDeviceNotification");
    if (service->diskNotification != nullptr) {
        unregisterNotification(service->diskNotification);
    }
}

// A projector plugged in after the last one went: its units, found and opened anew, once the
// lost projector's agent has let go of the pipe, and an agent for the console's user.
bool TakeArrivedProjector(DeviceService* service) {
    UnitServer* server = &service->server;
    EndAgent(&service->agent, server);
    SetServedUser(server, NO_SESSION, nullptr);  // nobody is served with the old units
    if (server->serving) {
        return false;
    }
    CloseProjectorUnits(server);
    for (std::string& path : server->paths) {
        path.clear();
    }
    if (!OpenProjectorUnits(server)) {
        return false;
    }
    DebugPrint("vorn_kvusb_service: a projector arrived\n");
    FollowConsole(service);
    return true;
}

// Until a stop is asked for, or until the projector has been gone for the idle time.
void Serve(DeviceService* service) {
    FollowConsole(service);
    ULONGLONG goneSince = 0;  // 0 while the projector is there
    bool arrival = false;     // a disk interface arrived while it was gone
    bool startAgain = false;  // an agent is due once nobody is served
    int unservedEnds = 0;     // agents in a row that ended before they were served
    for (;;) {
        HANDLE waits[] = {service->stopRequested, service->sessionChanged, service->disksChanged,
                          service->server.pipeChanged, service->agent.process};
        DWORD count = service->agent.process != nullptr ? 5 : 4;
        DWORD woken = WaitForMultipleObjects(count, waits, FALSE, PROBE_PERIOD_MS);
        if (woken == WAIT_OBJECT_0) {
            return;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            FollowConsole(service);
        } else if (woken == WAIT_OBJECT_0 + 4) {
            // Its user chose Exit, or it ended with the projector: not started again until the
            // console changes or a projector arrives. Never served, it chose nothing: started
            // again, a few times in a row at most.
            DWORD exitCode = 0;
            GetExitCodeProcess(service->agent.process, &exitCode);
            const bool served = service->server.agentServed;
            DebugPrint("vorn_kvusb_service: the agent ended (%lu)%s\n", exitCode,
                       served ? "" : " before it was served");
            CloseHandle(service->agent.process);
            service->agent.process = nullptr;
            service->server.agentProcessId = 0;
            unservedEnds = served ? 0 : unservedEnds + 1;
            if (!served && unservedEnds <= UNSERVED_STARTS) {
                service->agent.session = NO_SESSION;
                startAgain = true;
            }
        } else if (woken == WAIT_OBJECT_0 + 3) {
            // The pipe became the service's, or a served program left it.
            startAgain = startAgain || (service->agent.process == nullptr &&
                                        service->agent.session == NO_SESSION);
        }
        if (startAgain && !service->server.serving && goneSince == 0) {
            startAgain = false;
            FollowConsole(service);
        }
        const bool disksChanged = woken == WAIT_OBJECT_0 + 2;
        if (goneSince == 0) {
            // A removal, or with no agent to notice, the probe's turn.
            if ((disksChanged || (woken == WAIT_TIMEOUT && !service->server.serving)) &&
                !ProjectorAnswers(&service->server)) {
                DebugPrint("vorn_kvusb_service: the projector is gone\n");
                goneSince = GetTickCount64();
            }
            continue;
        }
        arrival = arrival || disksChanged;
        if (arrival && TakeArrivedProjector(service)) {
            goneSince = 0;
            arrival = false;
        } else if (GetTickCount64() - goneSince >= IDLE_STOP_MS) {
            DebugPrint("vorn_kvusb_service: no projector came back, the service stops\n");
            return;
        }
    }
}

// From the opening of the units to the end of serving them: NO_ERROR, or why the service could
// not run.
DWORD ServeProjector(DeviceService* service) {
    if (!OpenProjectorUnits(&service->server)) {
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    if (!StartUnitServer(&service->server)) {
        DWORD error = GetLastError();
        CloseProjectorUnits(&service->server);
        return error;
    }
    ReportStatus(service, SERVICE_RUNNING);
    DebugPrint("vorn_kvusb_service: running\n");
    Serve(service);
    ReportStatus(service, SERVICE_STOP_PENDING);
    EndAgent(&service->agent, &service->server);
    StopUnitServer(&service->server);
    CloseProjectorUnits(&service->server);
    DebugPrint("vorn_kvusb_service: stopped\n");
    return NO_ERROR;
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
    service.disksChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    service.server.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    service.server.backend = CreateSystemDeviceBackend();
    // Before the search, so that a projector plugged in meanwhile is not missed.
    WatchDisks(&service);
    DWORD exitCode = ServeProjector(&service);
    StopWatchingDisks(&service);
    ReportStatus(&service, SERVICE_STOPPED, exitCode);
}

}  // namespace

int RunDeviceService() {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(SERVICE_NAME), ServiceMain},
                                    {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
