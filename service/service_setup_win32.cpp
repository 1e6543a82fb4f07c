#include "service/device_service_win32.h"

#include <windows.h>
// tlhelp32.h builds on the types windows.h declares.
#include <tlhelp32.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "platform/debug_print.h"
#include "service/agent_process_win32.h"
#include "service/service_trigger.h"

// What the setup program runs: the service's registration with its trigger, its stop before
// files are replaced, and its removal.

namespace {

// The trigger records of winsvc.h as Microsoft documents them; MinGW-w64's header has the
// constants only.
struct ServiceTriggerDataItem {
    DWORD dwDataType;
    DWORD cbData;
    BYTE* pData;
};
struct ServiceTrigger {
    DWORD dwTriggerType;
    DWORD dwAction;
    GUID* pTriggerSubtype;
    DWORD cDataItems;
    ServiceTriggerDataItem* pDataItems;
};
struct ServiceTriggerInfo {
    DWORD cTriggers;
    ServiceTrigger* pTriggers;
    BYTE* pReserved;
};
constexpr DWORD TRIGGER_ACTION_SERVICE_START = 1;

constexpr wchar_t DISPLAY_NAME[] = L"vorn_kvusb projector service";
constexpr wchar_t DESCRIPTION[] =
    L"Owns the projector's USB units while it is plugged in, and shows the signed-in user's "
    L"desktop on it.";
// What the service uses of LocalSystem's privileges: the console user's token
// (WTSQueryUserToken) and the agent started with it (CreateProcessAsUserW). Every other one is
// removed from its process, but for traverse checking, which Windows never removes.
constexpr wchar_t REQUIRED_PRIVILEGES[] =
    L"SeTcbPrivilege\0SeAssignPrimaryTokenPrivilege\0SeIncreaseQuotaPrivilege\0";
constexpr DWORD STOP_WAIT_MS = 20000;
constexpr DWORD POLL_MS = 100;

std::wstring QuotedProgramPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return L"\"" + std::wstring(path) + L"\"";
}

DWORD RegisterTrigger(SC_HANDLE service) {
    std::vector<std::vector<uint8_t>> items;
    for (const std::string& id : ProjectorHardwareIds()) {
        items.push_back(TriggerStringItem(id));
    }
    std::vector<ServiceTriggerDataItem> data;
    for (std::vector<uint8_t>& item : items) {
        data.push_back(
            {SERVICE_TRIGGER_DATA_TYPE_STRING, static_cast<DWORD>(item.size()), item.data()});
    }
    GUID interfaceClass = DISK_INTERFACE_CLASS;
    ServiceTrigger trigger{SERVICE_TRIGGER_TYPE_DEVICE_INTERFACE_ARRIVAL,
                           TRIGGER_ACTION_SERVICE_START, &interfaceClass,
                           static_cast<DWORD>(data.size()), data.data()};
    ServiceTriggerInfo info{1, &trigger, nullptr};
    if (ChangeServiceConfig2W(service, SERVICE_CONFIG_TRIGGER_INFO, &info)) {
        return NO_ERROR;
    }
    return GetLastError();
}

// Its own SID in its token, which the pipe's and section's access lists name, and only the
// privileges it uses.
DWORD RestrictRights(SC_HANDLE service) {
    SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
    SERVICE_REQUIRED_PRIVILEGES_INFOW privileges{const_cast<wchar_t*>(REQUIRED_PRIVILEGES)};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid) ||
        !ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges)) {
        DWORD error = GetLastError();
        DebugPrint("vorn_kvusb_service: the service's SID or privileges were not set (%lu)\n",
                   error);
        // Wine runs every process with one token: the service is installed without them.
        return RunningUnderWine() ? NO_ERROR : error;
    }
    return NO_ERROR;
}

// Stops the service when it runs and waits until its process has ended: a process that has
// reported SERVICE_STOPPED may still hold its program file, which the setup replaces next.
void StopService(SC_HANDLE service) {
    // The process id is valid while the service runs.
    SERVICE_STATUS_PROCESS running{};
    DWORD needed = 0;
    HANDLE process = nullptr;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running),
                             sizeof running, &needed) &&
        running.dwCurrentState != SERVICE_STOPPED) {
        process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
    }
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
        if (process != nullptr) {
            CloseHandle(process);
        }
        return;
    }
    bool stopped = false;
    for (DWORD waited = 0; waited < STOP_WAIT_MS && !stopped; waited += POLL_MS) {
        stopped = QueryServiceStatus(service, &status) &&
                  status.dwCurrentState == SERVICE_STOPPED &&
                  (process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0);
        if (!stopped) {
            Sleep(POLL_MS);
        }
    }
    if (!stopped) {
        DebugPrint("vorn_kvusb_service: the service did not stop in time\n");
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
}

// Agents in every session, by name from a snapshot: the setup's token, elevated as it is, may
// not open another user's process to read its module's name.
int RunningAgents() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        DebugPrint("vorn_kvusb_service: CreateToolhelp32Snapshot failed (%lu)\n", GetLastError());
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int agents = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        agents += _wcsicmp(entry.szExeFile, AGENT_FILE_NAME) == 0 ? 1 : 0;
    }
    CloseHandle(snapshot);
    return agents;
}

// Every agent ends within a second or two of the service's stop (its next request fails).
void WaitForAgents() {
    for (DWORD waited = 0; waited < STOP_WAIT_MS && RunningAgents() > 0; waited += POLL_MS) {
        Sleep(POLL_MS);
    }
}

}  // namespace

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int InstallDeviceService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        DebugPrint("vorn_kvusb_service: OpenSCManager failed (%lu)\n", error);
        return static_cast<int>(error);
    }
    std::wstring path = QuotedProgramPath();
    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service != nullptr) {
        StopService(service);
        ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr,
                             nullptr, DISPLAY_NAME);
    } else {
        // LocalSystem: no account given.
        service =
            CreateServiceW(manager, SERVICE_NAME, DISPLAY_NAME, SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    if (service == nullptr) {
        DWORD error = GetLastError();
        DebugPrint("vorn_kvusb_service: CreateService failed (%lu)\n", error);
        CloseServiceHandle(manager);
        return static_cast<int>(error);
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(DESCRIPTION)};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    DWORD error = RestrictRights(service);
    int result = static_cast<int>(error);
    error = result == 0 ? RegisterTrigger(service) : NO_ERROR;
    if (error != NO_ERROR) {
        DebugPrint(
            "vorn_kvusb_service: ChangeServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO) "
            "failed (%lu)\n",
            error);
        if (RunningUnderWine()) {
            // Wine has no service triggers: the service is there, started by hand or by tests.
            DebugPrint("vorn_kvusb_service: Wine takes no service trigger, installed without\n");
        } else {
            result = static_cast<int>(error);
        }
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

int StopDeviceService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, SERVICE_NAME,
                                                          SERVICE_STOP | SERVICE_QUERY_STATUS)
                                           : nullptr;
    if (service != nullptr) {
        StopService(service);
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    WaitForAgents();
    return 0;
}

int UninstallDeviceService() {
    StopDeviceService();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return static_cast<int>(GetLastError());
    }
    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME, DELETE);
    int result = 0;
    if (service == nullptr) {
        DWORD error = GetLastError();
        result = error == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : static_cast<int>(error);
    } else {
        if (!DeleteService(service)) {
            result = static_cast<int>(GetLastError());
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}
