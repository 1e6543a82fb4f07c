#pragma once

#include <cstdint>

// The tray's texts live in the string table as one block of strings per language; the string
// of a role has the id LanguageBase + role.
enum class TextRole : uint32_t {
    DisplayMode = 0,
    Mirror = 1,
    Original = 2,
    Zoom1 = 3,
    Zoom2 = 4,
    PowerMode = 5,
    AutoPower = 6,
    About = 7,
    ProgramVersionLabel = 8,
    FirmwareVersionLabel = 9,
    Copyright = 10,
    Rights = 11,
    FanFailure = 12,
    Overheat = 13,
    // The presenter's controls. Freeze and Blank name their hotkey after a tab.
    Freeze = 14,
    Blank = 15,
    Flip = 16,
    FlipNone = 17,
    FlipHorizontal = 18,
    FlipVertical = 19,
    FlipBoth = 20,
    TipFrozen = 21,
    TipBlank = 22,
    HotkeyTaken = 23,  // a notice; %s stands for the keys
    OneWindow = 24,
    WindowClosed = 25,  // a notice
};
inline constexpr uint32_t TEXT_ROLE_COUNT = 26;

inline constexpr uint32_t ENGLISH_LANGUAGE_BASE = 4001;

// Primary languages the tray treats specially (low 8 bits of an LCID).
inline constexpr uint32_t PRIMARY_LANGUAGE_ARABIC = 0x01;
inline constexpr uint32_t PRIMARY_LANGUAGE_ENGLISH = 0x09;
inline constexpr uint32_t PRIMARY_LANGUAGE_KOREAN = 0x12;

inline constexpr uint32_t PrimaryLanguage(uint32_t lcid) {
    return lcid & 0xFF;
}

// Of the menu's languages, Arabic alone is written right to left: its menu is laid out
// mirrored, its texts read from the right.
inline constexpr bool IsRightToLeftLanguage(uint32_t lcid) {
    return PrimaryLanguage(lcid) == PRIMARY_LANGUAGE_ARABIC;
}

// First string id of the user's language block, or 0 when the language has none. Only the
// primary language decides, except for Chinese, where Taiwan's 0x0404 has the traditional
// block and every other Chinese language identifier the simplified one.
uint32_t GetLanguageBase(uint32_t lcid);

// The block the menu and the About box use: the user's, or English when there is none.
uint32_t LanguageBaseOrEnglish(uint32_t lcid);

inline constexpr uint32_t StringId(uint32_t languageBase, TextRole role) {
    return languageBase + static_cast<uint32_t>(role);
}
