#include "ui/resource_strings.h"

#include "ui/tray_window.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::optional<std::u16string> LoadResourceString(UINT id) {
    wchar_t buffer[STRING_BUFFER_CHARS];
    const int length = LoadStringW(g_hInstance, id, buffer, STRING_BUFFER_CHARS);
    if (length <= 0) {
        return std::nullopt;
    }
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<size_t>(length));
}

std::u16string UserLanguageText(TextRole role) {
    const uint32_t base = LanguageBaseOrEnglish(LANGIDFROMLCID(GetUserDefaultLCID()));
    std::optional<std::u16string> text = LoadResourceString(StringId(base, role));
    if (!text) {
        text = LoadResourceString(StringId(ENGLISH_LANGUAGE_BASE, role));
    }
    return text.value_or(std::u16string());
}
