#include "ui/context_menu.h"

#include <strsafe.h>

#include <cstddef>
#include <cwchar>
#include <string>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "platform/debug_print.h"
#include "platform/system_library_win32.h"
#include "resources/resource.h"
#include "ui/language_blocks.h"
#include "ui/menu_layout.h"
#include "ui/owner_drawn_item.h"
#include "ui/resource_strings.h"
#include "ui/trace_text.h"
#include "ui/tray_window.h"

bool cchIsByteCount = false;

namespace {

// The DPI the menu being shown is drawn at, and its items' font height; its items' sizes, font
// and pictures scale with them.
UINT g_uMenuDpi = MENU_BASE_DPI;
int32_t g_iMenuFontHeight = 0;
// The menu being shown is in a language written from the right: TrackPopupMenu lays it out
// mirrored, so its items' device contexts are mirrored too and the drawing below holds as it
// is; only the labels' reading order is asked for, and the pictures keep their own
// orientation (a flip's picture mirrored would show another flip).
bool g_bMenuRtl = false;

// The system DPI, where nothing tells a monitor's own.
UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : MENU_BASE_DPI;
}

// The menu opens at (x, y), maybe on another monitor than the hidden window's, with a DPI of
// its own: that monitor's decides. GetDpiForMonitor is shcore's, which is resolved from
// System32 (system_library_win32.h); GetDpiForWindow came with Windows 10 1607. Both are
// looked up, so that earlier builds still start; there, the system DPI.
UINT MenuDpiAt(HWND hwnd, int x, int y) {
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI: what the system scales windows by
    static const auto getDpiForMonitor =
        SystemFunctionAs<GetDpiForMonitorFunction>(L"shcore.dll", "GetDpiForMonitor");
    static const auto getDpiForWindow =
        SystemFunctionAs<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    UINT dpiX = 0;
    UINT dpiY = 0;
    if (getDpiForMonitor != nullptr &&
        SUCCEEDED(getDpiForMonitor(MonitorFromPoint({x, y}, MONITOR_DEFAULTTONEAREST),
                                   kEffectiveDpi, &dpiX, &dpiY)) &&
        dpiY != 0) {
        return dpiY;
    }
    if (getDpiForWindow != nullptr) {
        if (UINT dpi = getDpiForWindow(hwnd)) {
            return dpi;
        }
    }
    return SystemDpi();
}

// The height of the user's menu font at `dpi`, the text size they chose included; 0 where the
// system cannot tell it for a DPI (before Windows 10 1607).
int32_t UserMenuFontHeight(UINT dpi) {
    using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto systemParametersInfoForDpi =
        SystemFunctionAs<SystemParametersInfoForDpiFunction>(L"user32.dll",
                                                             "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (systemParametersInfoForDpi == nullptr ||
        !systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return 0;
    }
    return metrics.lfMenuFont.lfHeight;
}

size_t HeaderBytes() {
    return offsetof(MenuItemData, text);
}

// The 17 pictures of one build, each loaded once when first needed, deleted at the end.
class MenuBitmaps {
  public:
    MenuBitmaps() = default;
    MenuBitmaps(const MenuBitmaps&) = delete;
    MenuBitmaps& operator=(const MenuBitmaps&) = delete;
    ~MenuBitmaps() {
        for (const Entry& entry : entries_) {
            DeleteObject(entry.bitmap);
        }
    }

    HBITMAP Load(uint16_t id, const char* traceGroup) {
        for (const Entry& entry : entries_) {
            if (entry.id == id) {
                return entry.bitmap;
            }
        }
        HBITMAP bitmap = LoadBitmapW(g_hInstance, MAKEINTRESOURCEW(id));
        if (bitmap != nullptr) {
            DebugPrint("DisplayContextMenu: %s %d\n", traceGroup,
                       static_cast<int>(reinterpret_cast<intptr_t>(bitmap)));
        } else {
            DebugPrint("DisplayContextMenu: %s load failed! code %d\n", traceGroup,
                       static_cast<int>(GetLastError()));
        }
        entries_[count_++] = {id, bitmap};
        return bitmap;
    }

  private:
    struct Entry {
        uint16_t id;
        HBITMAP bitmap;
    };
    Entry entries_[MENU_BITMAP_COUNT] = {};
    size_t count_ = 0;
};

void SetItemText(HMENU menu, UINT position, UINT stringId) {
    const std::optional<std::u16string> text = LoadResourceString(stringId);
    if (!text) {
        return;  // the item keeps its English resource text
    }
    std::wstring buffer(AsWide(*text));
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING;
    item.dwTypeData = buffer.data();
    SetMenuItemInfoW(menu, position, TRUE, &item);
}

// Frees the records of the items the build may have made owner-drawn.
void FreeItemData(HMENU menu, UINT position) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_DATA;
    if (!GetMenuItemInfoW(menu, position, TRUE, &item) || item.dwItemData == 0) {
        return;
    }
    auto* data = reinterpret_cast<MenuItemData*>(item.dwItemData);
    DeleteObject(data->hFont);
    LocalFree(data);
}

// The part of the record's text the menu measures and draws, split at its tab.
MenuItemText ItemText(const MenuItemData* data) {
    return SplitMenuItemText(
        std::u16string_view(reinterpret_cast<const char16_t*>(data->text), data->cch));
}

const wchar_t* Wide(std::u16string_view text) {
    return reinterpret_cast<const wchar_t*>(text.data());
}

SIZE TextExtent(HDC dc, std::u16string_view text) {
    SIZE extent{};
    GetTextExtentPoint32W(dc, Wide(text), static_cast<int>(text.size()), &extent);
    return extent;
}

}  // namespace

void DisplayContextMenu(HWND hwnd, int x, int y) {
    const DWORD languageId = LANGIDFROMLCID(GetUserDefaultLCID());
    DebugPrint("DisplayContextMenu: hwnd %d, LCID %x\n", HandleNumber(hwnd),
               static_cast<unsigned>(languageId));
    const uint32_t base = LanguageBaseOrEnglish(languageId);
    g_uMenuDpi = MenuDpiAt(hwnd, x, y);
    g_iMenuFontHeight = MenuFontHeight(UserMenuFontHeight(g_uMenuDpi), g_uMenuDpi);
    g_bMenuRtl = IsRightToLeftLanguage(languageId);
    hContextMenu = LoadMenuW(g_hInstance, MAKEINTRESOURCEW(IDR_TRAYMENU));
    if (hContextMenu == nullptr) {
        return;
    }
    HMENU menus[MENU_LEVEL_COUNT] = {};
    const auto menuAt = [&menus](MenuLevel level) -> HMENU& {
        return menus[static_cast<size_t>(level)];
    };
    menuAt(MenuLevel::Top) = GetSubMenu(hContextMenu, 0);
    for (const SubMenuLink& link : SUB_MENU_LINKS) {
        menuAt(link.level) = GetSubMenu(menuAt(link.parent), static_cast<int>(link.position));
    }
    RefreshPowerMode();

    MenuBitmaps bitmaps;
    bool first = true;
    for (const TopMenuItem& item : TOP_MENU_ITEMS) {
        HMENU top = menuAt(MenuLevel::Top);
        SetItemText(top, item.position, StringId(base, item.text));
        HBITMAP bitmap = bitmaps.Load(item.bitmap, TOP_MENU_TRACE_GROUP);
        // Drawn without a picture when it did not load.
        SetOwnerDrawnItem(top, item.position, bitmap, languageId | (first ? PROBE_CCH_UNIT : 0));
        first = false;
    }
    const MenuState state{DispMode.load(),    ZoomMode.load(), PowerMode,
                          g_nWallHold.load(), FlipMode.load(), g_nCaptureWindow.load() != 0};
    for (const PictureMenuItem& item : PICTURE_MENU_ITEMS) {
        HMENU menu = menuAt(item.level);
        if (item.text) {
            SetItemText(menu, item.position, StringId(base, *item.text));
        }
        HBITMAP off = bitmaps.Load(item.bitmapOff, item.traceGroup);
        HBITMAP on = bitmaps.Load(item.bitmapOn, item.traceGroup);
        // Without both pictures the item could not show its state: it stays a normal item.
        if (off != nullptr && on != nullptr) {
            HBITMAP shown = MenuItemPicture(item, state) == item.bitmapOn ? on : off;
            SetOwnerDrawnItem(menu, item.position, shown, languageId);
        }
    }

    const UINT layout = g_bMenuRtl ? TPM_LAYOUTRTL : 0;
    if (TrackPopupMenu(menuAt(MenuLevel::Top),
                       TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN | layout, x, y, 0, hwnd,
                       nullptr)) {
        DebugPrint("TrackPopupMenu succeeded!\n");
    } else {
        DebugPrint("TrackPopupMenu failed! x=%d, y=%d error = %d\n", x, y,
                   static_cast<int>(GetLastError()));
    }
    // A menu of a notification icon: a harmless message makes the task switch that lets the
    // menu open again next time, instead of flashing and closing at once.
    PostMessageW(hwnd, WM_NULL, 0, 0);

    for (const TopMenuItem& item : TOP_MENU_ITEMS) {
        FreeItemData(menuAt(MenuLevel::Top), item.position);
    }
    for (const PictureMenuItem& item : PICTURE_MENU_ITEMS) {
        FreeItemData(menuAt(item.level), item.position);
    }
    DestroyMenu(hContextMenu);
    hContextMenu = nullptr;
}

int SetOwnerDrawnItem(HMENU menu, UINT position, HBITMAP bitmap, DWORD languageId) {
    auto* data = static_cast<MenuItemData*>(LocalAlloc(LPTR, sizeof(MenuItemData)));
    if (data == nullptr) {
        return 0;
    }
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING;
    item.dwTypeData = data->text;
    item.cch = MENU_TEXT_CAPACITY;
    if (!GetMenuItemInfoW(menu, position, TRUE, &item)) {
        DebugPrint("SetOwnerDrawnItem: GetMenuItemInfo failed! %d\n",
                   static_cast<int>(GetLastError()));
        LocalFree(data);
        return 0;
    }
    DebugPrint("SetOwnerDrawnItem: GetMenuItemInfo success! %d, lcid %x\n",
               static_cast<int>(item.cch), static_cast<unsigned>(languageId));
    data->text[MENU_TEXT_CAPACITY - 1] = L'\0';
    size_t textLength = 0;
    if (FAILED(StringCchLengthW(data->text, MENU_TEXT_CAPACITY, &textLength))) {
        textLength = 0;
    }
    if (languageId & PROBE_CCH_UNIT) {
        const CchProbe probe = ProbeCchUnit(textLength, item.cch);
        DebugPrint(probe.cchIsByteCount
                       ? "SetOwnerDrawnItem: mii.cch is byte count, strlen = %d, cch = %d\n"
                       : "SetOwnerDrawnItem: mii.cch is char count, strlen = %d, cch = %d\n",
                   static_cast<int>(probe.byteLength), static_cast<int>(item.cch));
        cchIsByteCount = probe.cchIsByteCount;
    }
    data->cch = MenuItemCharCount(item.cch, cchIsByteCount, textLength);
    const size_t usedBytes = HeaderBytes() + (textLength + 1) * sizeof(wchar_t);
    if (auto* shrunk = static_cast<MenuItemData*>(LocalReAlloc(data, usedBytes, LMEM_MOVEABLE))) {
        data = shrunk;
    }
    data->hFont = CreateMenuItemFont(languageId);
    data->hBitmap = bitmap;

    MENUITEMINFOW ownerDrawn{};
    ownerDrawn.cbSize = sizeof ownerDrawn;
    ownerDrawn.fMask = MIIM_FTYPE | MIIM_DATA;
    ownerDrawn.fType = MFT_OWNERDRAW;
    ownerDrawn.dwItemData = reinterpret_cast<ULONG_PTR>(data);
    if (!SetMenuItemInfoW(menu, position, TRUE, &ownerDrawn)) {
        DebugPrint("SetOwnerDrawnItem: SetMenuItemInfo failed! %d\n",
                   static_cast<int>(GetLastError()));
        // Not attached, so the tear-down would never find it.
        DeleteObject(data->hFont);
        LocalFree(data);
        return 0;
    }
    DebugPrint("SetOwnerDrawnItem: SetMenuItemInfo success!\n");
    return 1;
}

HFONT CreateMenuItemFont(DWORD languageId) {
    const MenuFontFields fields = MenuItemFontFields(languageId);
    LOGFONTW font{};
    font.lfHeight = g_iMenuFontHeight;
    font.lfCharSet = fields.charSet;
    const std::wstring faceName(fields.faceName.begin(), fields.faceName.end());
    if (FAILED(StringCchCopyW(font.lfFaceName, LF_FACESIZE, faceName.c_str()))) {
        DebugPrint("CreateMenuItemFont: StringCchCopy failed!\n");
    } else {
        DebugPrint("CreateMenuItemFont: lfFaceName = %s!\n", TraceText(fields.faceName).c_str());
    }
    return CreateFontIndirectW(&font);
}

void OnMeasureItem(MEASUREITEMSTRUCT* measureItem, HWND hwnd) {
    const auto* data = reinterpret_cast<const MenuItemData*>(measureItem->itemData);
    if (data == nullptr) {
        return;
    }
    HDC dc = GetDC(hwnd);
    HGDIOBJ oldFont = SelectObject(dc, data->hFont);
    const MenuItemText text = ItemText(data);
    const SIZE label = TextExtent(dc, text.label);
    const SIZE keys = TextExtent(dc, text.keys);
    const MenuItemMetrics metrics = MenuItemMetricsForDpi(g_uMenuDpi);
    const MenuItemSize size =
        MeasureMenuItem(metrics, MenuItemTextWidth(metrics, label.cx, keys.cx), label.cy);
    measureItem->itemWidth = static_cast<UINT>(size.width);
    measureItem->itemHeight = static_cast<UINT>(size.height);
    DebugPrint("OnMeasureItem: cx %d, cy %d\n", size.width, size.height);
    SelectObject(dc, oldFont);
    ReleaseDC(hwnd, dc);
}

void OnDrawItem(DRAWITEMSTRUCT* drawItem) {
    const auto* data = reinterpret_cast<const MenuItemData*>(drawItem->itemData);
    if (data == nullptr) {
        return;
    }
    DebugPrint("OnDrawItem: itemID %d cch %d\n", static_cast<int>(drawItem->itemID),
               static_cast<int>(data->cch));
    HDC dc = drawItem->hDC;
    const RECT& rect = drawItem->rcItem;
    const MenuItemColours colours = MenuItemColourIndices(drawItem->itemState & ODS_SELECTED);
    const COLORREF oldText = SetTextColor(dc, GetSysColor(colours.text));
    const COLORREF oldBackground = SetBkColor(dc, GetSysColor(colours.background));
    const MenuItemMetrics metrics = MenuItemMetricsForDpi(g_uMenuDpi);
    HGDIOBJ oldFont = SelectObject(dc, data->hFont);
    const MenuItemText text = ItemText(data);
    ExtTextOutW(dc, rect.left + metrics.textLeft, rect.top + metrics.textTop,
                ETO_OPAQUE | (g_bMenuRtl ? ETO_RTLREADING : 0), &rect, Wide(text.label),
                static_cast<UINT>(text.label.size()), nullptr);
    if (!text.keys.empty()) {
        const SIZE keys = TextExtent(dc, text.keys);
        ExtTextOutW(dc, rect.right - metrics.keysRight - keys.cx, rect.top + metrics.textTop, 0,
                    nullptr, Wide(text.keys), static_cast<UINT>(text.keys.size()), nullptr);
    }
    if (data->hBitmap != nullptr) {
        HDC memory = CreateCompatibleDC(nullptr);
        HGDIOBJ oldBitmap = SelectObject(memory, data->hBitmap);
        const int oldMode = SetStretchBltMode(dc, HALFTONE);
        POINT oldOrigin{};
        SetBrushOrgEx(dc, 0, 0, &oldOrigin);  // HALFTONE needs it set after the mode
        StretchBlt(dc, rect.left + metrics.pictureLeft, rect.top + metrics.pictureTop,
                   metrics.pictureSize, metrics.pictureSize, memory, 0, 0, MENU_PICTURE_SIZE,
                   MENU_PICTURE_SIZE, SRCCOPY | (g_bMenuRtl ? NOMIRRORBITMAP : 0));
        SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
        SetStretchBltMode(dc, oldMode);
        SelectObject(memory, oldBitmap);
        DeleteDC(memory);
    }
    SelectObject(dc, oldFont);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBackground);
}
