#include "ui/tray_icon.h"

#include <cstddef>
#include <cwchar>

#include "app/shutdown.h"
#include "platform/debug_print.h"
#include "resources/resource.h"
#include "ui/tray_window.h"

std::atomic<TrayIcon*> pTrayIcon{nullptr};

namespace {
constexpr wchar_t kTip[] = L"KVUSB Setting";
constexpr wchar_t kBalloonText[] = L"K7Q0 detected";
constexpr UINT kBalloonMilliseconds = 10000;

static_assert(offsetof(NOTIFYICONDATAW, guidItem) == TRAY_ICON_DATA_SIZE);

// Copies at most `capacity` - 1 characters and a terminator.
void CopyCut(wchar_t* destination, size_t capacity, const wchar_t* source) {
    wcsncpy(destination, source != nullptr ? source : L"", capacity - 1);
    destination[capacity - 1] = L'\0';
}
}  // namespace

TrayIcon* NewTrayIcon(HWND hwnd) {
    auto* icon = static_cast<TrayIcon*>(LocalAlloc(LPTR, sizeof(TrayIcon)));
    if (icon != nullptr) {
        icon->hWnd = hwnd;
    }
    return icon;
}

BOOL AddTrayIcon(TrayIcon* icon, HWND hwnd) {
    icon->hWnd = hwnd;
    icon->uID = IDI_KVUSB;
    icon->tip = kTip;
    NOTIFYICONDATAW& nid = icon->nid;
    nid.cbSize = TRAY_ICON_DATA_SIZE;
    nid.hWnd = hwnd;
    nid.uID = icon->uID;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = NotifyIconMessage;
    nid.hIcon = LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_KVUSB));
    CopyCut(nid.szTip, ARRAYSIZE(nid.szTip), icon->tip);
    icon->added = Shell_NotifyIconW(NIM_ADD, &nid);
    if (icon->added) {
        // Asked after every NIM_ADD: the callbacks then name the event the user meant (a
        // context menu, a selection), whether by mouse or keyboard, and where to open the menu.
        nid.uVersion = NOTIFYICON_VERSION_4;
        if (!Shell_NotifyIconW(NIM_SETVERSION, &nid)) {
            DebugPrint("vorn_kvusb: the shell keeps the old icon callbacks\n");
        }
    }
    return icon->added;
}

void ShowTrayBalloon(TrayIcon* icon) {
    NOTIFYICONDATAW& nid = icon->nid;
    nid.uFlags = NIF_INFO;
    CopyCut(nid.szInfo, ARRAYSIZE(nid.szInfo), kBalloonText);
    CopyCut(nid.szInfoTitle, ARRAYSIZE(nid.szInfoTitle), L"");
    nid.dwInfoFlags = NIIF_INFO;
    nid.uTimeout = kBalloonMilliseconds;
    Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void DeleteTrayIcon(TrayIcon* icon) {
    if (icon->added) {
        icon->nid.hWnd = icon->hWnd;
        icon->nid.uID = icon->uID;
        Shell_NotifyIconW(NIM_DELETE, &icon->nid);
        icon->added = FALSE;
    }
    LocalFree(icon);
}

void ReleaseTrayIcon() {
    if (TrayIcon* icon = pTrayIcon.exchange(nullptr)) {
        DeleteTrayIcon(icon);
    }
}

void AddTrayIconAgain(HWND hwnd) {
    // Held by exchange so that no shutdown frees it meanwhile; a shutdown that began while it
    // was held found nothing to remove, so it is released here instead.
    TrayIcon* icon = pTrayIcon.exchange(nullptr);
    if (icon == nullptr) {
        return;
    }
    AddTrayIcon(icon, hwnd);
    pTrayIcon.store(icon);
    if (ShutdownBegun()) {
        ReleaseTrayIcon();
    }
}
