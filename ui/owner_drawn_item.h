#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The plain rules of the owner-drawn menu items: their font, the unit of the text length
// the menu reports, and where and in which colours an item is painted.

// The item font: a LOGFONTW with every other field 0 but lfHeight (MenuFontHeight).
struct MenuFontFields {
    uint8_t charSet;               // lfCharSet, DEFAULT_CHARSET
    std::u16string_view faceName;  // lfFaceName; empty lets Korean text pick its own face
};
MenuFontFields MenuItemFontFields(uint32_t languageId);

// Room for an item's text, terminator included, when it is read from the menu.
inline constexpr uint32_t MENU_TEXT_CAPACITY = 256;

// Some systems report a menu text's length (GetMenuItemInfoW's cch) in bytes rather than
// characters. The first item of a build is probed: its text of textLength characters is
// byteLength bytes; a cch below that (beyond the terminator) can only count characters.
struct CchProbe {
    uint32_t byteLength;
    bool cchIsByteCount;
};
CchProbe ProbeCchUnit(size_t textLength, uint32_t cch);

// Characters of an item's text to measure and draw, never more than the text holds.
uint32_t MenuItemCharCount(uint32_t cch, bool cchIsByteCount, size_t textLength);

// Layout: a 26-pixel column for the 18 x 18 picture, then the text.
inline constexpr int32_t MENU_TEXT_LEFT = 26;
inline constexpr int32_t MENU_TEXT_TOP = 4;
inline constexpr int32_t MENU_ITEM_EXTRA_HEIGHT = 8;
inline constexpr int32_t MENU_PICTURE_SIZE = 18;
inline constexpr int32_t MENU_PICTURE_LEFT = 0;
inline constexpr int32_t MENU_PICTURE_TOP = 2;

// The quantities above and the font's height are for 96 DPI. The program is aware of each
// monitor's DPI (its capture needs the desktop's real pixels), so Windows scales nothing of
// an owner-drawn item: the menu scales them itself to the DPI it is shown at.
inline constexpr uint32_t MENU_BASE_DPI = 96;
struct MenuItemMetrics {
    int32_t fontHeight;
    int32_t textLeft;
    int32_t textTop;
    int32_t extraHeight;
    int32_t pictureSize;
    int32_t pictureLeft;
    int32_t pictureTop;
    int32_t keysGap;    // MENU_KEYS_GAP
    int32_t keysRight;  // MENU_KEYS_RIGHT
};
MenuItemMetrics MenuItemMetricsForDpi(uint32_t dpi);

// The item font's lfHeight. The user's menu font (SPI_GETNONCLIENTMETRICS at the menu's DPI)
// carries both that DPI and the text size the user chose; Windows' own is 12 pixels high at
// 96 DPI. The items keep the height of 14 against that default and follow the user's font from
// there. Without the user's font (0), the DPI alone scales them (MenuItemMetricsForDpi).
inline constexpr int32_t SYSTEM_MENU_FONT_HEIGHT = 12;
int32_t MenuFontHeight(int32_t userMenuFontHeight, uint32_t dpi);

struct MenuItemSize {
    int32_t width;
    int32_t height;
};
inline constexpr MenuItemSize MeasureMenuItem(const MenuItemMetrics& metrics, int32_t textWidth,
                                              int32_t textHeight) {
    return {textWidth + metrics.textLeft, textHeight + metrics.extraHeight};
}

// An item's text may name its hotkey after a tab ("Freeze\tCtrl+Alt+Shift+F"), as menus do:
// the label is drawn at the text origin and the keys in a column of their own, ending
// MENU_KEYS_RIGHT before the item's end, at least MENU_KEYS_GAP after the label.
inline constexpr int32_t MENU_KEYS_GAP = 24;
inline constexpr int32_t MENU_KEYS_RIGHT = 16;
struct MenuItemText {
    std::u16string_view label;
    std::u16string_view keys;  // empty without a tab
};
MenuItemText SplitMenuItemText(std::u16string_view text);
// The width MeasureMenuItem takes for a label and its keys (0 wide when there are none).
int32_t MenuItemTextWidth(const MenuItemMetrics& metrics, int32_t labelWidth, int32_t keysWidth);

// System colour indices (GetSysColor) of an item's text and background.
struct MenuItemColours {
    int32_t text;
    int32_t background;
};
MenuItemColours MenuItemColourIndices(bool selected);
