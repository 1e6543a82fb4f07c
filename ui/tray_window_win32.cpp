#include "ui/tray_window.h"

#include <dbt.h>
#include <wtsapi32.h>

#include "app/capture_events.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "app/program_window.h"
#include "app/shutdown.h"
#include "app/stop_sequence.h"
#include "device/device_discovery.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"
#include "platform/system_library_win32.h"
#include "resources/resource.h"
#include "ui/context_menu.h"
#include "ui/device_error_timer.h"
#include "ui/dialogs.h"
#include "ui/menu_commands.h"
#include "ui/one_window.h"
#include "ui/presenter_hotkeys.h"
#include "ui/session_watch.h"
#include "ui/tray_events.h"
#include "ui/tray_icon.h"

HINSTANCE g_hInstance = nullptr;
std::atomic<HWND> hMainWnd{nullptr};
HMENU hContextMenu = nullptr;
const UINT NotifyIconMessage = RegisterWindowMessageW(L"KVUSBNotifyIcon");

namespace {

constexpr int kWindowWidth = 544;
constexpr int kWindowHeight = 375;

// The shell sends it to every top-level window when it starts again; its icons are gone then.
const UINT TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");

// A shutdown step sent from the sender thread (lParam), run on the window's thread; answered 1.
constexpr UINT WM_RUN_STEP = WM_APP + 1;
// The window's loop has ended, or the window could not be created: no step can be sent.
std::atomic<bool> g_bLoopEnded{false};

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
constexpr GUID GUID_DEVINTERFACE_DISK = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// wtsapi32.dll is not one of the KnownDLLs: resolved from System32 (system_library_win32.h).
using SessionNotificationFunction = BOOL(WINAPI*)(HWND, DWORD);
using SessionUnregistrationFunction = BOOL(WINAPI*)(HWND);

// Locking the session, or leaving the console, must not leave the user's desktop on the wall.
void RegisterSessionNotification(HWND hwnd) {
    auto registerWindow = SystemFunctionAs<SessionNotificationFunction>(
        L"wtsapi32.dll", "WTSRegisterSessionNotification");
    if (registerWindow == nullptr || !registerWindow(hwnd, NOTIFY_FOR_THIS_SESSION)) {
        DebugPrint("vorn_kvusb: WTSRegisterSessionNotification failed! %d\n",
                   static_cast<int>(GetLastError()));
        return;
    }
    ReadSessionState();
}

void UnregisterSessionNotification(HWND hwnd) {
    if (auto unregister = SystemFunctionAs<SessionUnregistrationFunction>(
            L"wtsapi32.dll", "WTSUnRegisterSessionNotification")) {
        unregister(hwnd);
    }
}

void StopProgram(StopReason reason) {
    TrayWindow window;
    RunStopSequence(reason, window);
}

// Removal notifications for the two open unit handles: Windows asks before it lets a device
// go ("Eject", "Safely remove"), and refuses while a handle on it is open.
HDEVNOTIFY g_hUnitNotifications[2] = {nullptr, nullptr};

void RegisterUnitNotifications(HWND hwnd) {
    const struct {
        const char* name;
        DeviceHandle unit;
    } units[] = {{"Disk1", g_hDisk1}, {"Disk2", g_hDisk2}};
    for (size_t i = 0; i < std::size(units); ++i) {
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof filter;
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = units[i].unit;
        g_hUnitNotifications[i] =
            RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        DebugPrint("vorn_kvusb: removal notifications for %s handle 0x%llx %s\n", units[i].name,
                   static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(units[i].unit)),
                   g_hUnitNotifications[i] != nullptr ? "on" : "failed");
    }
}

void UnregisterUnitNotifications() {
    for (HDEVNOTIFY& notification : g_hUnitNotifications) {
        if (notification != nullptr) {
            UnregisterDeviceNotification(notification);
            notification = nullptr;
        }
    }
}

// True when the broadcast asks to remove the device behind one of the unit handles.
bool NamesOpenUnit(const DEV_BROADCAST_HDR* header) {
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_HANDLE ||
        header->dbch_size < sizeof(DEV_BROADCAST_HANDLE) - 1) {
        return false;
    }
    HANDLE handle = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_handle;
    return handle != nullptr && (handle == g_hDisk1 || handle == g_hDisk2);
}

// The user asks to eject the projector: the units are let go before the answer, so that the
// removal goes ahead, and the program ends as when the projector is unplugged.
void OnQueryRemove(const DEV_BROADCAST_HDR* header) {
    if (!NamesOpenUnit(header)) {
        return;
    }
    DebugPrint("vorn_kvusb: the projector is to be removed, letting it go!\n");
    UnregisterUnitNotifications();
    StopProgram(StopReason::OpticalUnitRemoved);
    Shutdown();  // closes the unit handles; the loop then ends on the quit message
}

void OnCreate(HWND hwnd) {
    // The program runs elevated, and the shell at medium integrity: without this, the
    // message filter drops the shell's TaskbarCreated and the icon stays gone after the shell
    // restarts.
    ChangeWindowMessageFilterEx(hwnd, TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    TrayIcon* icon = NewTrayIcon(hwnd);
    pTrayIcon.store(icon);
    if (icon != nullptr) {
        AddTrayIcon(icon, hwnd);
        ShowTrayBalloon(icon);
    }
    HDEVNOTIFY notification = nullptr;  // lapses with the window
    RegisterDiskNotification(hwnd, GUID_DEVINTERFACE_DISK, &notification);
    RegisterSessionNotification(hwnd);
    RegisterUnitNotifications(hwnd);
    RegisterPresenterHotkeys(hwnd);
    RefreshPowerMode();
    hMainWnd.store(hwnd);
    SetTimer(hwnd, IDT_DEVERR, DEVERR_PERIOD_MS, DevErrTimerProc);
    ApplySavedZoom();
}

void OnDestroy(HWND hwnd) {
    DebugPrint("vorn_kvusb: WM_DESTROY!\n");
    KillTimer(hwnd, IDT_DEVERR);
    UnregisterPresenterHotkeys(hwnd);
    UnregisterSessionNotification(hwnd);
    ReleaseTrayIcon();
    PostQuitMessage(0);
}

void OnTrayIcon(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    const TrayCallback callback = ReadTrayCallback(wParam, lParam, IDI_KVUSB);
    // A click while the menu is open reaches this window through the menu's own loop: the menu
    // is built once at a time, for hContextMenu is the one being shown.
    if (!callback.opensMenu || hContextMenu != nullptr) {
        return;
    }
    DebugPrint("KVUSB add sub-menu: hwnd %d\n", HandleNumber(hwnd));
    NoteWindowToShow();
    SetForegroundWindow(hwnd);
    POINT at{callback.x, callback.y};
    if (!callback.hasAnchor) {
        GetCursorPos(&at);
    }
    DisplayContextMenu(hwnd, at.x, at.y);
}

// A menu command or a hotkey's; the tip follows the wall's hold.
void RunCommand(UINT commandId) {
    const int32_t hold = g_nWallHold.load();
    RunMenuCommand(commandId);
    if (g_nWallHold.load() != hold) {
        ShowWallHoldInTip(g_nWallHold.load());
    }
}

void OnCommand(HWND hwnd, UINT commandId) {
    if (commandId == IDM_ABOUT) {
        DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUT), hwnd, AboutProc, 0);
    } else if (commandId == IDM_ONE_WINDOW) {
        ToggleOneWindow();
    } else {
        RunCommand(commandId);
    }
}

// Logoff, shutdown, restart, or the restart manager closing the program: the session may end
// as soon as this returns, so the desktop size, the saved modes and the capture are all put
// right first. The mode switch is stored as the user's setting, and the next logon would
// otherwise start at 800 x 600.
void OnEndSession(WPARAM ending, LPARAM reason) {
    if (!ending) {
        return;  // another program refused; the session goes on
    }
    DebugPrint("WM_ENDSESSION 0x%x, will stop vorn_kvusb!\n", static_cast<unsigned>(reason));
    Shutdown();
    ExitProgram(RunEnd::Stopped);
}

}  // namespace

int TrayWindow::RunLoop() {
    AttachProgramWindow(this);
    const int result = CreateMyWindow(g_hInstance);
    g_bLoopEnded.store(true);
    return result;
}

void TrayWindow::RunOnWindowThread(void (*step)()) {
    // A window still being created is waited for: its thread may be inside the system's
    // window code, which a change made meanwhile on this thread can hold up for good.
    HWND hwnd = hMainWnd.load();
    while (hwnd == nullptr && !g_bLoopEnded.load()) {
        Sleep(1);
        hwnd = hMainWnd.load();
    }
    if (hwnd == nullptr ||
        SendMessageW(hwnd, WM_RUN_STEP, 0, reinterpret_cast<LPARAM>(step)) != 1) {
        step();
    }
}

void TrayWindow::StopFaultPoll() {
    KillTimer(hMainWnd.load(), IDT_DEVERR);
}

void TrayWindow::ReleaseTrayIcon() {
    ::ReleaseTrayIcon();
}

bool TrayWindow::ContextMenuOpen() {
    return hContextMenu != nullptr;
}

void TrayWindow::DestroyContextMenu() {
    DestroyMenu(hContextMenu);
}

void TrayWindow::PostQuit() {
    PostQuitMessage(0);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == NotifyIconMessage) {
        OnTrayIcon(hwnd, wParam, lParam);
        return 0;
    }
    if (message == TaskbarCreatedMessage) {
        AddTrayIconAgain(hwnd);
        return 0;
    }
    switch (message) {
        case WM_CREATE:
            OnCreate(hwnd);
            return 0;
        case WM_DESTROY:
            OnDestroy(hwnd);
            return 0;
        case WM_DRAWITEM:
            DebugPrint("WM_DRAWITEM!!\n");
            OnDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_MEASUREITEM:
            DebugPrint("WM_MEASUREITEM!!\n");
            OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam), hwnd);
            return TRUE;
        case WM_DISPLAYCHANGE:
            OnDisplayChangeMessage();
            return 0;
        case WM_COMMAND:
            OnCommand(hwnd, LOWORD(wParam));
            return 0;
        case WM_HOTKEY:
            if (const UINT command = PresenterHotkeyCommand(wParam)) {
                RunCommand(command);
            }
            return 0;
        case WM_TIMER:
            return 0;  // the poll runs in the timer procedure
        case WM_RUN_STEP:
            reinterpret_cast<void (*)()>(lParam)();
            return 1;
        case WM_POWERBROADCAST:
            if (wParam == PBT_APMSUSPEND) {
                StopProgram(StopReason::Suspend);
            }
            return 0;
        case WM_WTSSESSION_CHANGE:
            OnSessionChange(wParam);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;  // never stands in the user's way; the work is done at WM_ENDSESSION
        case WM_ENDSESSION:
            OnEndSession(wParam, lParam);
            return 0;
        case WM_DEVICECHANGE:
            if (wParam == DBT_DEVICEQUERYREMOVE) {
                OnQueryRemove(reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
                return TRUE;  // never stands in the way of a removal
            }
            if (wParam == DBT_DEVICEREMOVECOMPLETE && lParam != 0 &&
                OpticalUnitRemoved(reinterpret_cast<const void*>(lParam))) {
                StopProgram(StopReason::OpticalUnitRemoved);
            }
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool RegisterDiskNotification(HWND hwnd, const GUID& interfaceClass, HDEVNOTIFY* notification) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    *notification = RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return *notification != nullptr;
}

int CreateMyWindow(HINSTANCE hInstance) {
    g_hInstance = hInstance;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = hInstance;
    windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.hIconSm = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
    windowClass.lpszClassName = TRAY_WINDOW_CLASS;
    if (RegisterClassExW(&windowClass) == 0) {
        return 0;
    }
    HWND hwnd = CreateWindowExW(0, TRAY_WINDOW_CLASS, TRAY_WINDOW_CLASS, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr,
                                nullptr, hInstance, nullptr);
    if (hwnd == nullptr) {
        // Without a window nothing could end the loop but a lost projector: end now instead.
        DebugPrint("CreateMyWindow: CreateWindowEx failed! %d\n", static_cast<int>(GetLastError()));
        return 0;
    }
    ShowWindow(hwnd, SW_HIDE);
    MSG msg;
    // GetMessageW answers -1 on an error, which must end the loop too.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
