#include "ui/language_blocks.h"

namespace {

struct LanguageBlock {
    uint32_t primaryLanguage;
    uint32_t languageBase;
};

constexpr uint32_t PRIMARY_LANGUAGE_CHINESE = 0x04;
constexpr uint32_t LANGUAGE_ID_CHINESE_TAIWAN = 0x0404;
constexpr uint32_t TRADITIONAL_CHINESE_BASE = 2701;
constexpr uint32_t SIMPLIFIED_CHINESE_BASE = 2801;

constexpr LanguageBlock LANGUAGE_BLOCKS[] = {
    {0x01, 3901},  // Arabic
    {0x05, 3201},  // Czech
    {0x06, 3301},  // Danish
    {0x07, 2201},  // German
    {0x09, ENGLISH_LANGUAGE_BASE},
    {0x0A, 2001},  // Spanish
    {0x0C, 2101},  // French
    {0x0E, 3501},  // Hungarian
    {0x10, 2301},  // Italian
    {0x11, 2601},  // Japanese
    {0x12, 3701},  // Korean
    {0x13, 3101},  // Dutch
    {0x15, 2901},  // Polish
    {0x16, 2401},  // Portuguese
    {0x19, 2501},  // Russian
    {0x1D, 3401},  // Swedish
    {0x1E, 3001},  // Thai
    {0x1F, 3601},  // Turkish
    {0x2A, 3801},  // Vietnamese
};

}  // namespace

uint32_t GetLanguageBase(uint32_t lcid) {
    const uint32_t primary = PrimaryLanguage(lcid);
    if (primary == PRIMARY_LANGUAGE_CHINESE) {
        return (lcid & 0xFFFF) == LANGUAGE_ID_CHINESE_TAIWAN ? TRADITIONAL_CHINESE_BASE
                                                             : SIMPLIFIED_CHINESE_BASE;
    }
    for (const LanguageBlock& block : LANGUAGE_BLOCKS) {
        if (block.primaryLanguage == primary) {
            return block.languageBase;
        }
    }
    return 0;
}

uint32_t LanguageBaseOrEnglish(uint32_t lcid) {
    const uint32_t base = GetLanguageBase(lcid);
    return base != 0 ? base : ENGLISH_LANGUAGE_BASE;
}
