#pragma once

#include <windows.h>
// shellapi.h builds on the types windows.h declares.
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <string>

// The notification-area icon. One record per process, made at window creation and released
// by whichever comes first: the window's destruction, the stop sequence or a shutdown, which
// may run on the sender thread.

struct TrayIcon {
    HWND hWnd;
    UINT uID;
    const wchar_t* tip;  // not owned
    BOOL added;          // NIM_ADD succeeded
    NOTIFYICONDATAW nid;
};

// The shell's data block is given 952 bytes, which ends before guidItem in a 64-bit build:
// the fields the program uses, which every shell since balloons came accepts.
inline constexpr DWORD TRAY_ICON_DATA_SIZE = 952;

extern std::atomic<TrayIcon*> pTrayIcon;

// A new record for `hwnd`, not yet added; nullptr when there is no memory.
TrayIcon* NewTrayIcon(HWND hwnd);
// Adds the icon with its tip and the registered callback message; stores and returns the
// result of NIM_ADD.
BOOL AddTrayIcon(TrayIcon* icon, HWND hwnd);
// The start-up balloon on the added icon.
void ShowTrayBalloon(TrayIcon* icon);
// Removes the icon if it was added, and frees the record.
void DeleteTrayIcon(TrayIcon* icon);

// Takes pTrayIcon by exchange and deletes it: the first caller on any thread does it.
void ReleaseTrayIcon();
// After the shell restarted (its "TaskbarCreated" message): the icon is added again, with the
// tip it had.
void AddTrayIconAgain(HWND hwnd);
// The tip says, below "KVUSB Setting", whether the wall is frozen or blank (WALL_*), so that
// nobody forgets that the picture is stale.
void ShowWallHoldInTip(int32_t wallHold);
// A notice in the icon's balloon (the user's language's text).
void ShowTrayNotice(const std::u16string& text);
