#include "ui/one_window.h"

#include <dwmapi.h>

#include <cwchar>
#include <iterator>

#include "platform/system_library_win32.h"
#include "ui/menu_commands.h"
#include "ui/resource_strings.h"
#include "ui/tray_icon.h"

namespace {

HWND g_hWindowToShow = nullptr;

// The shell's own windows: the taskbars and the desktop behind every window.
constexpr const wchar_t* kShellClasses[] = {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd", L"Progman",
                                            L"WorkerW"};

bool Cloaked(HWND hwnd) {
    // dwmapi.dll is not one of the KnownDLLs: resolved from System32.
    using DwmGetWindowAttributeFunction = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
    static const auto getAttribute =
        SystemFunctionAs<DwmGetWindowAttributeFunction>(L"dwmapi.dll", "DwmGetWindowAttribute");
    DWORD cloaked = 0;
    return getAttribute != nullptr &&
           SUCCEEDED(getAttribute(hwnd, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) && cloaked != 0;
}

bool UsersWindow(HWND hwnd) {
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(hwnd) || IsIconic(hwnd) ||
        (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0 || Cloaked(hwnd)) {
        return false;
    }
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, static_cast<int>(std::size(className)));
    for (const wchar_t* shell : kShellClasses) {
        if (std::wcscmp(className, shell) == 0) {
            return false;
        }
    }
    RECT rect{};
    return GetWindowRect(hwnd, &rect) && rect.right > rect.left && rect.bottom > rect.top;
}

}  // namespace

void NoteWindowToShow() {
    g_hWindowToShow = nullptr;
    for (HWND hwnd = GetTopWindow(nullptr); hwnd != nullptr; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
        if (UsersWindow(hwnd)) {
            g_hWindowToShow = hwnd;
            return;
        }
    }
}

void ToggleOneWindow() {
    RunOneWindowCommand(g_hWindowToShow != nullptr && IsWindow(g_hWindowToShow)
                            ? reinterpret_cast<uintptr_t>(g_hWindowToShow)
                            : 0);
}

void PollClosedWindow() {
    if (ClosedWindowEnded()) {
        ShowTrayNotice(UserLanguageText(TextRole::WindowClosed));
    }
}
