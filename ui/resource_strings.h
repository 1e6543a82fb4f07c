#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "ui/language_blocks.h"

// Strings of the program's string table, as the pure UI code takes them.

// Texts are loaded into buffers of this many characters.
inline constexpr int STRING_BUFFER_CHARS = 128;

// The string `id`, cut to the buffer; nullopt when it cannot be loaded.
std::optional<std::u16string> LoadResourceString(UINT id);

// The text of `role` in the user's language, or in English when that language has no block or
// its string does not load; empty when neither loads.
std::u16string UserLanguageText(TextRole role);

inline const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
