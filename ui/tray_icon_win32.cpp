#include "ui/tray_icon.h"

#include <cstddef>
#include <cwchar>

#include "app/frame_pipeline.h"
#include "app/shutdown.h"
#include "platform/debug_print.h"
#include "resources/resource.h"
#include "ui/resource_strings.h"
#include "ui/tray_window.h"

std::atomic<TrayIcon*> pTrayIcon{nullptr};

namespace {
constexpr wchar_t kTip[] = L"KVUSB Setting";
constexpr wchar_t kBalloonText[] = L"K7Q0 detected";
constexpr UINT kBalloonMilliseconds = 10000;

// The tip in force once the wall's hold was shown: kTip, and the hold below it. Written on the
// window's thread only.
wchar_t g_szTip[ARRAYSIZE(NOTIFYICONDATAW{}.szTip)] = {};

const wchar_t* CurrentTip() {
    return g_szTip[0] != L'\0' ? g_szTip : kTip;
}

static_assert(offsetof(NOTIFYICONDATAW, guidItem) == TRAY_ICON_DATA_SIZE);

// Copies at most `capacity` - 1 characters and a terminator.
void CopyCut(wchar_t* destination, size_t capacity, const wchar_t* source) {
    wcsncpy(destination, source != nullptr ? source : L"", capacity - 1);
    destination[capacity - 1] = L'\0';
}

// Runs `change` on the icon held by exchange, so that no shutdown frees it meanwhile; a
// shutdown that began while it was held found nothing to remove, so it is released here.
template <typename Change>
void ChangeHeldTrayIcon(Change change) {
    TrayIcon* icon = pTrayIcon.exchange(nullptr);
    if (icon == nullptr) {
        return;
    }
    change(icon);
    pTrayIcon.store(icon);
    if (ShutdownBegun()) {
        ReleaseTrayIcon();
    }
}

void ShowBalloon(TrayIcon* icon, const wchar_t* text) {
    NOTIFYICONDATAW& nid = icon->nid;
    nid.uFlags = NIF_INFO;
    CopyCut(nid.szInfo, ARRAYSIZE(nid.szInfo), text);
    CopyCut(nid.szInfoTitle, ARRAYSIZE(nid.szInfoTitle), L"");
    nid.dwInfoFlags = NIIF_INFO;
    nid.uTimeout = kBalloonMilliseconds;
    Shell_NotifyIconW(NIM_MODIFY, &nid);
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
    icon->tip = CurrentTip();
    NOTIFYICONDATAW& nid = icon->nid;
    nid.cbSize = TRAY_ICON_DATA_SIZE;
    nid.hWnd = hwnd;
    nid.uID = icon->uID;
    // With NOTIFYICON_VERSION_4 the shell shows the tip only when asked to (NIF_SHOWTIP).
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
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
    ShowBalloon(icon, kBalloonText);
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
    ChangeHeldTrayIcon([hwnd](TrayIcon* icon) { AddTrayIcon(icon, hwnd); });
}

void ShowWallHoldInTip(int32_t wallHold) {
    std::u16string tip(kTip, kTip + wcslen(kTip));
    if (wallHold == WALL_FROZEN || wallHold == WALL_BLANK) {
        tip += u'\n';
        tip += UserLanguageText(wallHold == WALL_FROZEN ? TextRole::TipFrozen : TextRole::TipBlank);
    }
    CopyCut(g_szTip, ARRAYSIZE(g_szTip), AsWide(tip));
    ChangeHeldTrayIcon([](TrayIcon* icon) {
        NOTIFYICONDATAW& nid = icon->nid;
        nid.uFlags = NIF_TIP | NIF_SHOWTIP;
        CopyCut(nid.szTip, ARRAYSIZE(nid.szTip), CurrentTip());
        Shell_NotifyIconW(NIM_MODIFY, &nid);
    });
}

void ShowTrayNotice(const std::u16string& text) {
    ChangeHeldTrayIcon([&text](TrayIcon* icon) { ShowBalloon(icon, AsWide(text)); });
}
