#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ui/language_blocks.h"

// Where the localised texts and pictures of the tray menu go, and which picture each item
// shows. The menu carries no system check marks: the current display mode, zoom and power
// mode are told by choosing an item's "on" or "off" picture when the menu is built, as are the
// presenter's freeze, blank, flip and one window.

// The menus of resource 106. The shown menu is sub-menu 0 of the resource (Top); every
// other one is reached from its parent by position (SUB_MENU_LINKS).
enum class MenuLevel { Top, DisplayMode, Mirror, Mode800x600, PowerMode, Flip };
inline constexpr size_t MENU_LEVEL_COUNT = 6;

struct SubMenuLink {
    MenuLevel level;
    MenuLevel parent;
    uint32_t position;
};
extern const SubMenuLink SUB_MENU_LINKS[MENU_LEVEL_COUNT - 1];  // parents before children

// The app state the pictures show, read when the menu is built.
struct MenuState {
    int32_t dispMode;    // DispMode
    int32_t zoomMode;    // ZoomMode
    uint32_t powerMode;  // PowerMode: 0 Auto Power, anything else ECO
    int32_t wallHold;    // g_nWallHold: WALL_LIVE, WALL_FROZEN or WALL_BLANK
    int32_t flipMode;    // FlipMode: FLIP_*
    bool oneWindow;      // a window is shown instead of the desktop
};

enum class MenuCheck {
    Mirror,
    Mode800x600,
    MirrorOriginal,
    MirrorZoom1,
    Original800x600,
    Zoom1_800x600,
    Zoom2_800x600,
    AutoPower,
    Eco,
    Freeze,
    Blank,
    FlipNone,
    FlipHorizontal,
    FlipVertical,
    FlipBoth,
    OneWindow,
};

// True when the item shows its "on" picture.
bool IsMenuCheckOn(MenuCheck check, const MenuState& state);

// Top items: always owner-drawn, one picture each.
struct TopMenuItem {
    uint32_t position;
    TextRole text;
    uint16_t bitmap;
};
extern const TopMenuItem TOP_MENU_ITEMS[4];

// Items with an "off" and an "on" picture, in the order the menu is built. An item is
// owner-drawn only when both of its pictures loaded. "800x600" and "ECO" keep the resource
// text in every language.
struct PictureMenuItem {
    MenuLevel level;
    uint32_t position;
    std::optional<TextRole> text;
    uint16_t bitmapOff;
    uint16_t bitmapOn;
    MenuCheck check;
    const char* traceGroup;  // names the bitmap group in the load traces
};
extern const PictureMenuItem PICTURE_MENU_ITEMS[16];

inline constexpr const char* TOP_MENU_TRACE_GROUP = "hbmp1_3";

// The picture an item shows for the given state.
inline uint16_t MenuItemPicture(const PictureMenuItem& item, const MenuState& state) {
    return IsMenuCheckOn(item.check, state) ? item.bitmapOn : item.bitmapOff;
}

// Every menu bitmap, each once, in the order the build first needs it. The Original and
// Zoom 1 pictures serve both the Mirror and the 800x600 sub-menus.
inline constexpr uint32_t MENU_BITMAP_COUNT = 32;
extern const uint16_t MENU_BITMAP_IDS[MENU_BITMAP_COUNT];
