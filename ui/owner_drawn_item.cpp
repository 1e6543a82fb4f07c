#include "ui/owner_drawn_item.h"

#include <algorithm>

#include "ui/language_blocks.h"

namespace {

constexpr int32_t MENU_FONT_HEIGHT = 14;
constexpr uint8_t MENU_FONT_CHARSET = 1;  // DEFAULT_CHARSET

// GetSysColor indices.
constexpr int32_t COLOUR_MENU = 4;
constexpr int32_t COLOUR_MENU_TEXT = 7;
constexpr int32_t COLOUR_HIGHLIGHT = 13;
constexpr int32_t COLOUR_HIGHLIGHT_TEXT = 14;

}  // namespace

MenuFontFields MenuItemFontFields(uint32_t languageId) {
    const bool korean = PrimaryLanguage(languageId) == PRIMARY_LANGUAGE_KOREAN;
    return {MENU_FONT_CHARSET, korean ? u"" : u"Arial"};
}

CchProbe ProbeCchUnit(size_t textLength, uint32_t cch) {
    const uint64_t byteLength = 2 * static_cast<uint64_t>(textLength);
    // 64-bit so that a cch of 0xFFFFFFFF cannot wrap to 0 and pass for characters.
    const bool countsCharacters = byteLength > static_cast<uint64_t>(cch) + 1;
    return {static_cast<uint32_t>(byteLength), !countsCharacters};
}

uint32_t MenuItemCharCount(uint32_t cch, bool cchIsByteCount, size_t textLength) {
    const uint32_t count = cchIsByteCount ? cch / 2 : cch;
    return static_cast<uint32_t>(std::min<size_t>(count, textLength));
}

MenuItemMetrics MenuItemMetricsForDpi(uint32_t dpi) {
    // To the nearest pixel; an unknown DPI (0) is taken as the base.
    const uint32_t scale = dpi != 0 ? dpi : MENU_BASE_DPI;
    auto scaled = [scale](int32_t pixels) {
        return static_cast<int32_t>((static_cast<uint32_t>(pixels) * scale + MENU_BASE_DPI / 2) /
                                    MENU_BASE_DPI);
    };
    return {scaled(MENU_FONT_HEIGHT),       scaled(MENU_TEXT_LEFT),    scaled(MENU_TEXT_TOP),
            scaled(MENU_ITEM_EXTRA_HEIGHT), scaled(MENU_PICTURE_SIZE), scaled(MENU_PICTURE_LEFT),
            scaled(MENU_PICTURE_TOP),       scaled(MENU_KEYS_GAP),     scaled(MENU_KEYS_RIGHT)};
}

int32_t MenuFontHeight(int32_t userMenuFontHeight, uint32_t dpi) {
    if (userMenuFontHeight == 0) {
        return MenuItemMetricsForDpi(dpi).fontHeight;
    }
    // Windows gives it negative (the characters' height, not the cell's): its size counts.
    constexpr int64_t kTallest = 1 << 16;  // no font is taller; a wild value cannot overflow
    const int64_t magnitude = std::min(
        userMenuFontHeight < 0 ? -int64_t{userMenuFontHeight} : int64_t{userMenuFontHeight},
        kTallest);
    return static_cast<int32_t>((MENU_FONT_HEIGHT * magnitude + SYSTEM_MENU_FONT_HEIGHT / 2) /
                                SYSTEM_MENU_FONT_HEIGHT);
}

MenuItemText SplitMenuItemText(std::u16string_view text) {
    const size_t tab = text.find(u'\t');
    if (tab == std::u16string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, tab), text.substr(tab + 1)};
}

int32_t MenuItemTextWidth(const MenuItemMetrics& metrics, int32_t labelWidth, int32_t keysWidth) {
    return keysWidth > 0 ? labelWidth + metrics.keysGap + keysWidth + metrics.keysRight
                         : labelWidth;
}

MenuItemColours MenuItemColourIndices(bool selected) {
    if (selected) {
        return {COLOUR_HIGHLIGHT_TEXT, COLOUR_HIGHLIGHT};
    }
    return {COLOUR_MENU_TEXT, COLOUR_MENU};
}
