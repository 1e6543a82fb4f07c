#include "ui/session_watch.h"

#include <wtsapi32.h>

#include "app/frame_pipeline.h"
#include "platform/debug_print.h"
#include "platform/system_library_win32.h"
#include "ui/session_info_win32.h"
#include "ui/session_view.h"

namespace {

// wtsapi32.dll is not one of the KnownDLLs: resolved from System32 (system_library_win32.h).
using QuerySessionFunction = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
using FreeMemoryFunction = void(WINAPI*)(PVOID);

// Read and followed on the thread that runs the window, the first time before the window.
SessionView g_sessionView;

void Show(const SessionView& view) {
    g_sessionView = view;
    g_bBlankFrames.store(ShowsNothing(view));
}

SessionQuery QuerySession() {
    SessionQuery query;
    DWORD session = 0;
    query.session = ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
    query.consoleSession = WTSGetActiveConsoleSessionId();
    auto querySession =
        SystemFunctionAs<QuerySessionFunction>(L"wtsapi32.dll", "WTSQuerySessionInformationW");
    auto release = SystemFunctionAs<FreeMemoryFunction>(L"wtsapi32.dll", "WTSFreeMemory");
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (querySession == nullptr || release == nullptr ||
        !querySession(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION,
                      static_cast<WTS_INFO_CLASS>(SESSION_INFO_EX), &buffer, &bytes)) {
        return query;
    }
    SessionInfoEx info{};
    if (buffer != nullptr && bytes >= sizeof info) {
        CopyMemory(&info, buffer, sizeof info);
        query.answered = info.level == 1;
        query.sessionFlags = info.sessionFlags;
    }
    release(buffer);
    return query;
}

}  // namespace

void ReadSessionState() {
    const SessionView view = SessionViewFromQuery(QuerySession());
    if (view.locked && !g_sessionView.locked) {
        DebugPrint("vorn_kvusb: session locked at start, black frames until it unlocks!\n");
    }
    if (view.awayFromConsole && !g_sessionView.awayFromConsole) {
        DebugPrint("vorn_kvusb: session not at the console, black frames until it is!\n");
    }
    Show(view);
}

void OnSessionChange(WPARAM change) {
    switch (change) {
        case WTS_SESSION_LOCK:
            DebugPrint("vorn_kvusb: session locked, black frames until it unlocks!\n");
            break;
        case WTS_SESSION_UNLOCK:
            DebugPrint("vorn_kvusb: session unlocked!\n");
            break;
        case WTS_CONSOLE_DISCONNECT:
        case WTS_REMOTE_CONNECT:
            DebugPrint("vorn_kvusb: session left the console, black frames until it is back!\n");
            break;
        case WTS_CONSOLE_CONNECT:
            DebugPrint("vorn_kvusb: session back at the console!\n");
            break;
        default:
            return;
    }
    Show(AfterSessionChange(g_sessionView, static_cast<uint32_t>(change)));
}
