#pragma once

#include <windows.h>

#include <atomic>

#include "app/program_window.h"

// The hidden window that owns the tray icon, and the program's message loop.

// The program instance, for the window class, the icon, the menu and the dialogs.
extern HINSTANCE g_hInstance;
// The hidden main window; the shutdowns stop its device-error timer, maybe from the sender
// thread.
extern std::atomic<HWND> hMainWnd;
// The menu while DisplayContextMenu shows it, null otherwise.
extern HMENU hContextMenu;
// Registered "KVUSBNotifyIcon": the tray icon's callback message.
extern const UINT NotifyIconMessage;

// The hidden window's class; the device service's agent is asked to close through it.
inline constexpr wchar_t TRAY_WINDOW_CLASS[] = L"VORN_KVUSB";

// The device-error timer: polls the projector's fault status once a second.
inline constexpr UINT_PTR IDT_DEVERR = 1;
inline constexpr UINT DEVERR_PERIOD_MS = 1000;

// A window handle as the traces print it.
inline int HandleNumber(HWND hwnd) {
    return static_cast<int>(reinterpret_cast<intptr_t>(hwnd));
}

// Registers the class, creates the hidden window and runs the message loop until WM_QUIT.
// Returns 0.
int CreateMyWindow(HINSTANCE hInstance);

// The window as the engine sees it. It holds nothing: its state is the globals above.
class TrayWindow final : public ProgramWindow {
  public:
    // Attaches the window to the shutdowns and runs CreateMyWindow.
    int RunLoop() override;
    void StopFaultPoll() override;  // the device-error timer
    void ReleaseTrayIcon() override;
    // Sent to the window once it exists; run here when it never will or is gone.
    void RunOnWindowThread(void (*step)()) override;
    bool ContextMenuOpen() override;
    void DestroyContextMenu() override;
    void PostQuit() override;
};
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Device-interface notifications of `interfaceClass` for `hwnd`; true when registered.
bool RegisterDiskNotification(HWND hwnd, const GUID& interfaceClass, HDEVNOTIFY* notification);
