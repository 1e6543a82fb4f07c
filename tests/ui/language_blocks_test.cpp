#include "ui/language_blocks.h"

#include <gtest/gtest.h>

TEST(GetLanguageBase, ChineseIsDecidedByTheWholeLanguageId) {
    EXPECT_EQ(GetLanguageBase(0x0404), 2701u);      // Taiwan: traditional script
    EXPECT_EQ(GetLanguageBase(0x0804), 2801u);      // PRC
    EXPECT_EQ(GetLanguageBase(0x0C04), 2801u);      // Hong Kong
    EXPECT_EQ(GetLanguageBase(0x1004), 2801u);      // Singapore
    EXPECT_EQ(GetLanguageBase(0x00010404), 2701u);  // sort order bits above the language id
}

TEST(GetLanguageBase, OtherLanguagesLookOnlyAtThePrimaryLanguage) {
    EXPECT_EQ(GetLanguageBase(0x0807), 2201u);  // German, Switzerland
    EXPECT_EQ(GetLanguageBase(0x0407), 2201u);
    EXPECT_EQ(GetLanguageBase(0x0C0A), 2001u);  // Spanish, modern sort
    EXPECT_EQ(GetLanguageBase(0x0416), 2401u);  // Portuguese, Brazil
}

TEST(GetLanguageBase, EveryLanguageHasItsBlock) {
    const struct {
        uint32_t lcid;
        uint32_t base;
    } cases[] = {
        {0x0401, 3901}, {0x0404, 2701}, {0x0804, 2801}, {0x0405, 3201}, {0x0406, 3301},
        {0x0407, 2201}, {0x0409, 4001}, {0x040A, 2001}, {0x040C, 2101}, {0x040E, 3501},
        {0x0410, 2301}, {0x0411, 2601}, {0x0412, 3701}, {0x0413, 3101}, {0x0415, 2901},
        {0x0816, 2401}, {0x0419, 2501}, {0x041D, 3401}, {0x041E, 3001}, {0x041F, 3601},
        {0x042A, 3801},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetLanguageBase(c.lcid), c.base) << std::hex << c.lcid;
    }
}

TEST(GetLanguageBase, LanguagesWithoutABlockGetZeroAndTheMenuFallsBackToEnglish) {
    for (uint32_t lcid : {0x0408u, 0x0000u, 0x0402u, 0x0418u, 0x0422u, 0x04FFu}) {
        EXPECT_EQ(GetLanguageBase(lcid), 0u) << std::hex << lcid;
        EXPECT_EQ(LanguageBaseOrEnglish(lcid), ENGLISH_LANGUAGE_BASE);
    }
    EXPECT_EQ(LanguageBaseOrEnglish(0x0411), 2601u);
}
