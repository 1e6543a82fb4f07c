#include "service/agent_process_win32.h"

#include <userenv.h>
#include <wtsapi32.h>

#include <string>

#include "platform/debug_print.h"
#include "platform/system_library_win32.h"

namespace {

constexpr DWORD AGENT_CLOSE_MS = 5000;  // the status poll asks every second
constexpr USHORT CONSOLE_PROTOCOL = 0;  // WTSClientProtocolType of the console itself

// wtsapi32 and userenv are not KnownDLLs: resolved from System32 only.
using QuerySessionInformation = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
using FreeMemory = void(WINAPI*)(void*);
using QueryUserToken = BOOL(WINAPI*)(ULONG, HANDLE*);
using CreateEnvironment = BOOL(WINAPI*)(void**, HANDLE, BOOL);
using DestroyEnvironment = BOOL(WINAPI*)(void*);

// One value of a session's information, or `fallback` when it cannot be had.
template <typename Value>
Value SessionValue(DWORD session, WTS_INFO_CLASS what, Value fallback) {
    static auto query =
        SystemFunctionAs<QuerySessionInformation>(L"wtsapi32.dll", "WTSQuerySessionInformationW");
    static auto release = SystemFunctionAs<FreeMemory>(L"wtsapi32.dll", "WTSFreeMemory");
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (query == nullptr || release == nullptr ||
        !query(WTS_CURRENT_SERVER_HANDLE, session, what, &buffer, &bytes)) {
        return fallback;
    }
    Value value = bytes >= sizeof(Value) ? *reinterpret_cast<Value*>(buffer) : fallback;
    release(buffer);
    return value;
}

std::wstring AgentPath() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + AGENT_FILE_NAME;
}

}  // namespace

ConsoleSession QueryConsoleSession(HANDLE* userToken) {
    static auto queryToken = SystemFunctionAs<QueryUserToken>(L"wtsapi32.dll", "WTSQueryUserToken");
    ConsoleSession console{};
    console.id = WTSGetActiveConsoleSessionId();
    *userToken = nullptr;
    if (console.id == NO_SESSION) {
        return console;
    }
    // Windows always states it; Wine does not, and has no other state than the active one.
    constexpr int UNSTATED = -1;
    const int state = SessionValue<int>(console.id, WTSConnectState, UNSTATED);
    if (state == UNSTATED) {
        DebugPrint("vorn_kvusb_service: session %u states no connect state (%lu)\n", console.id,
                   GetLastError());
    }
    console.active = state == WTSActive || state == UNSTATED;
    console.remote = SessionValue<USHORT>(console.id, WTSClientProtocolType, CONSOLE_PROTOCOL) !=
                     CONSOLE_PROTOCOL;
    console.userSignedIn = queryToken != nullptr && queryToken(console.id, userToken);
    if (!console.userSignedIn) {
        *userToken = nullptr;
    }
    return console;
}

bool StartAgent(uint32_t session, HANDLE userToken, AgentProcess* agent) {
    static auto createEnvironment =
        SystemFunctionAs<CreateEnvironment>(L"userenv.dll", "CreateEnvironmentBlock");
    static auto destroyEnvironment =
        SystemFunctionAs<DestroyEnvironment>(L"userenv.dll", "DestroyEnvironmentBlock");
    void* environment = nullptr;
    if (createEnvironment == nullptr || !createEnvironment(&environment, userToken, FALSE)) {
        DebugPrint("vorn_kvusb_service: no environment for session %u's user (%lu)\n", session,
                   GetLastError());
        return false;
    }
    std::wstring path = AgentPath();
    std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
    PROCESS_INFORMATION started{};
    BOOL ok = CreateProcessAsUserW(userToken, path.c_str(), nullptr, nullptr, nullptr, FALSE,
                                   CREATE_UNICODE_ENVIRONMENT, environment, folder.c_str(),
                                   &startup, &started);
    DWORD error = GetLastError();
    destroyEnvironment(environment);
    if (!ok) {
        DebugPrint("vorn_kvusb_service: CreateProcessAsUser failed in session %u (%lu)\n", session,
                   error);
        return false;
    }
    CloseHandle(started.hThread);
    agent->process = started.hProcess;
    agent->session = session;
    DebugPrint("vorn_kvusb_service: started the agent in session %u\n", session);
    return true;
}

void EndAgent(AgentProcess* agent, UnitServer* server) {
    if (agent->process != nullptr) {
        server->closeAsked = true;
        if (WaitForSingleObject(agent->process, AGENT_CLOSE_MS) != WAIT_OBJECT_0) {
            DebugPrint("vorn_kvusb_service: the agent did not close, ending it\n");
            TerminateProcess(agent->process, 1);
            WaitForSingleObject(agent->process, AGENT_CLOSE_MS);
        }
        CloseHandle(agent->process);
        agent->process = nullptr;
    }
    server->closeAsked = false;
    server->agentProcessId = 0;
    agent->session = NO_SESSION;
}
