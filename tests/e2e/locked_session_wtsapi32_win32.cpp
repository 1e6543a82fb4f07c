// A stand-in for the system's wtsapi32.dll that reports the session as locked: Wine's own
// answers no WTSSessionInfoEx query. The locked-start test puts it in the prefix's System32
// for one run of the program, which Wine then loads in place of its own.
#include <windows.h>

#include "ui/session_info_win32.h"

namespace {
// Spelled out: wtsapi32.h declares the functions below as imported.
constexpr DWORD kCurrentSession = 0xFFFFFFFF;  // WTS_CURRENT_SESSION
constexpr INT kActive = 0;                     // WTSActive
// The names, times and counters that follow the fields set here, left zero.
constexpr SIZE_T kLevel1Size = 280;
}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI
    WTSQuerySessionInformationW(HANDLE, DWORD session, DWORD infoClass, LPWSTR* buffer,
                                DWORD* bytes) {
    if (infoClass != SESSION_INFO_EX) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    auto* info = static_cast<SessionInfoEx*>(LocalAlloc(LPTR, kLevel1Size));
    if (info == nullptr) {
        return FALSE;
    }
    DWORD own = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &own);
    info->level = 1;
    info->sessionId = session == kCurrentSession ? own : session;
    info->sessionState = kActive;
    info->sessionFlags = SESSION_STATE_LOCK;
    *buffer = reinterpret_cast<LPWSTR>(info);
    *bytes = kLevel1Size;
    return TRUE;
}

__declspec(dllexport) void WINAPI WTSFreeMemory(PVOID memory) {
    LocalFree(memory);
}

__declspec(dllexport) BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD) {
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI WTSUnRegisterSessionNotification(HWND) {
    return TRUE;
}

}  // extern "C"
