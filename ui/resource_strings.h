#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

// Strings of the program's string table, as the pure UI code takes them.

// Texts are loaded into buffers of this many characters.
inline constexpr int STRING_BUFFER_CHARS = 128;

// The string `id`, cut to the buffer; nullopt when it cannot be loaded.
std::optional<std::u16string> LoadResourceString(UINT id);

inline const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
