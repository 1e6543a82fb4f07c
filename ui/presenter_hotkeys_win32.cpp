#include "ui/presenter_hotkeys.h"

#include <string>

#include "platform/debug_print.h"
#include "resources/resource.h"
#include "ui/owner_drawn_item.h"
#include "ui/resource_strings.h"
#include "ui/tray_icon.h"

namespace {
constexpr UINT kPresenterModifiers = MOD_CONTROL | MOD_ALT | MOD_SHIFT | MOD_NOREPEAT;
}  // namespace

const PresenterHotkey PRESENTER_HOTKEYS[2] = {
    {0x4B01, kPresenterModifiers, 'F', IDM_FREEZE, TextRole::Freeze},
    {0x4B02, kPresenterModifiers, 'B', IDM_BLANK, TextRole::Blank},
};

void RegisterPresenterHotkeys(HWND hwnd) {
    std::u16string taken;
    for (const PresenterHotkey& hotkey : PRESENTER_HOTKEYS) {
        if (RegisterHotKey(hwnd, hotkey.id, hotkey.modifiers, hotkey.key)) {
            continue;
        }
        DebugPrint("vorn_kvusb: hotkey 0x%x '%c' taken by another program, left to it! %d\n",
                   hotkey.modifiers, static_cast<char>(hotkey.key),
                   static_cast<int>(GetLastError()));
        const std::u16string item = UserLanguageText(hotkey.item);
        taken += (taken.empty() ? u"" : u", ") + std::u16string(SplitMenuItemText(item).keys);
    }
    if (taken.empty()) {
        return;
    }
    std::u16string notice = UserLanguageText(TextRole::HotkeyTaken);
    const size_t keys = notice.find(u"%s");
    if (keys != std::u16string::npos) {
        notice.replace(keys, 2, taken);
    }
    ShowTrayNotice(notice);
}

void UnregisterPresenterHotkeys(HWND hwnd) {
    for (const PresenterHotkey& hotkey : PRESENTER_HOTKEYS) {
        UnregisterHotKey(hwnd, hotkey.id);
    }
}

UINT PresenterHotkeyCommand(WPARAM id) {
    for (const PresenterHotkey& hotkey : PRESENTER_HOTKEYS) {
        if (static_cast<WPARAM>(hotkey.id) == id) {
            DebugPrint("vorn_kvusb: hotkey '%c'!\n", static_cast<char>(hotkey.key));
            return hotkey.command;
        }
    }
    return 0;
}
