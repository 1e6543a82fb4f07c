#include "ui/tray_window.h"

#include <dbt.h>

#include "app/capture_events.h"
#include "app/power_mode.h"
#include "app/program_window.h"
#include "app/shutdown.h"
#include "app/stop_sequence.h"
#include "platform/debug_print.h"
#include "resources/resource.h"
#include "ui/context_menu.h"
#include "ui/device_error_timer.h"
#include "ui/dialogs.h"
#include "ui/menu_commands.h"
#include "ui/tray_events.h"
#include "ui/tray_icon.h"

HINSTANCE g_hInstance = nullptr;
std::atomic<HWND> hMainWnd{nullptr};
HMENU hContextMenu = nullptr;
const UINT NotifyIconMessage = RegisterWindowMessageW(L"KVUSBNotifyIcon");

namespace {

constexpr wchar_t kClassName[] = L"VORN_KVUSB";
constexpr int kWindowWidth = 544;
constexpr int kWindowHeight = 375;

// The shell sends it to every top-level window when it starts again; its icons are gone then.
const UINT TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
constexpr GUID GUID_DEVINTERFACE_DISK = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

void OnCreate(HWND hwnd) {
    TrayIcon* icon = NewTrayIcon(hwnd);
    pTrayIcon.store(icon);
    if (icon != nullptr) {
        AddTrayIcon(icon, hwnd);
        ShowTrayBalloon(icon);
    }
    HDEVNOTIFY notification = nullptr;  // lapses with the window
    RegisterDiskNotification(hwnd, GUID_DEVINTERFACE_DISK, &notification);
    RefreshPowerMode();
    hMainWnd.store(hwnd);
    SetTimer(hwnd, IDT_DEVERR, DEVERR_PERIOD_MS, DevErrTimerProc);
    ApplySavedZoom();
}

void OnDestroy(HWND hwnd) {
    DebugPrint("vorn_kvusb: WM_DESTROY!\n");
    KillTimer(hwnd, IDT_DEVERR);
    ReleaseTrayIcon();
    PostQuitMessage(0);
}

void OnTrayIcon(HWND hwnd, LPARAM mouseMessage) {
    if (!IsTrayMenuClick(mouseMessage)) {
        return;
    }
    DebugPrint("KVUSB add sub-menu: hwnd %d\n", HandleNumber(hwnd));
    SetForegroundWindow(hwnd);
    POINT cursor{};
    GetCursorPos(&cursor);
    DisplayContextMenu(hwnd, cursor.x, cursor.y);
}

void OnCommand(HWND hwnd, UINT commandId) {
    if (commandId == IDM_ABOUT) {
        DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUT), hwnd, AboutProc, 0);
    } else {
        RunMenuCommand(commandId);
    }
}

void StopProgram(StopReason reason) {
    TrayWindow window;
    RunStopSequence(reason, window);
}

}  // namespace

int TrayWindow::RunLoop() {
    AttachProgramWindow(this);
    return CreateMyWindow(g_hInstance);
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
        OnTrayIcon(hwnd, lParam);
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
        case WM_TIMER:
            return 0;  // the poll runs in the timer procedure
        case WM_POWERBROADCAST:
            if (wParam == PBT_APMSUSPEND) {
                StopProgram(StopReason::Suspend);
            }
            return 0;
        case WM_DEVICECHANGE:
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
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        return 0;
    }
    HWND hwnd = CreateWindowExW(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr,
                                hInstance, nullptr);
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
