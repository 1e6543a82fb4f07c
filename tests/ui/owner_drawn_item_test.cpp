#include "ui/owner_drawn_item.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(MenuItemFont, KoreanGetsAnEmptyFaceNameEveryOtherLanguageArial) {
    EXPECT_EQ(MenuItemFontFields(0x0412).faceName, u"");
    EXPECT_EQ(MenuItemFontFields(0x80000412).faceName, u"");  // with the probe bit
    for (uint32_t languageId : {0x0409u, 0x0411u, 0x0401u, 0x0804u, 0x0408u}) {
        EXPECT_EQ(MenuItemFontFields(languageId).faceName, u"Arial") << std::hex << languageId;
    }
    const MenuFontFields font = MenuItemFontFields(0x0409);
    EXPECT_EQ(font.charSet, 1);
}

TEST(CchProbe, DisplayModeReportedInCharactersOrBytes) {
    const size_t length = std::u16string_view(u"Display Mode").size();  // 12

    const CchProbe characters = ProbeCchUnit(length, 12);  // 24 > 13
    EXPECT_EQ(characters.byteLength, 24u);
    EXPECT_FALSE(characters.cchIsByteCount);
    EXPECT_EQ(MenuItemCharCount(12, characters.cchIsByteCount, length), 12u);

    const CchProbe bytes = ProbeCchUnit(length, 24);  // 24 is not > 25
    EXPECT_EQ(bytes.byteLength, 24u);
    EXPECT_TRUE(bytes.cchIsByteCount);
    EXPECT_EQ(MenuItemCharCount(24, bytes.cchIsByteCount, length), 12u);
}

TEST(CchProbe, BoundaryAndDegenerateLengths) {
    EXPECT_FALSE(ProbeCchUnit(12, 22).cchIsByteCount);  // 24 > 23
    EXPECT_TRUE(ProbeCchUnit(12, 23).cchIsByteCount);   // 24 is not > 24
    EXPECT_TRUE(ProbeCchUnit(0, 0).cchIsByteCount);     // unmeasurable text: bytes
    EXPECT_TRUE(ProbeCchUnit(255, 0xFFFFFFFF).cchIsByteCount);
}

TEST(MenuItemCharCount, NeverMoreThanTheTextHolds) {
    EXPECT_EQ(MenuItemCharCount(40, false, 12), 12u);
    EXPECT_EQ(MenuItemCharCount(25, true, 12), 12u);
    EXPECT_EQ(MenuItemCharCount(0, false, 12), 0u);
}

TEST(OwnerDrawMetrics, SizeOriginsAndColours) {
    const MenuItemSize size = MeasureMenuItem(MenuItemMetricsForDpi(96), 70, 16);
    EXPECT_EQ(size.width, 96);
    EXPECT_EQ(size.height, 24);
    EXPECT_EQ(MENU_TEXT_LEFT, 26);
    EXPECT_EQ(MENU_TEXT_TOP, 4);
    EXPECT_EQ(MENU_PICTURE_SIZE, 18);
    EXPECT_EQ(MENU_PICTURE_LEFT, 0);
    EXPECT_EQ(MENU_PICTURE_TOP, 2);

    const MenuItemColours selected = MenuItemColourIndices(true);
    EXPECT_EQ(selected.text, 14);        // COLOR_HIGHLIGHTTEXT
    EXPECT_EQ(selected.background, 13);  // COLOR_HIGHLIGHT
    const MenuItemColours normal = MenuItemColourIndices(false);
    EXPECT_EQ(normal.text, 7);        // COLOR_MENUTEXT
    EXPECT_EQ(normal.background, 4);  // COLOR_MENU
}

TEST(OwnerDrawMetrics, ScaleWithTheMenusDpiAndStayAsTheyAreAt96) {
    const MenuItemMetrics base = MenuItemMetricsForDpi(96);
    EXPECT_EQ(base.fontHeight, 14);
    EXPECT_EQ(base.textLeft, MENU_TEXT_LEFT);
    EXPECT_EQ(base.pictureSize, MENU_PICTURE_SIZE);
    EXPECT_EQ(base.pictureTop, MENU_PICTURE_TOP);

    // 200 %: every quantity doubles, so the text clears the doubled picture as before.
    const MenuItemMetrics twice = MenuItemMetricsForDpi(192);
    EXPECT_EQ(twice.fontHeight, 28);
    EXPECT_EQ(twice.textLeft, 52);
    EXPECT_EQ(twice.textTop, 8);
    EXPECT_EQ(twice.extraHeight, 16);
    EXPECT_EQ(twice.pictureSize, 36);
    EXPECT_EQ(twice.pictureLeft, 0);
    EXPECT_EQ(twice.pictureTop, 4);

    // 150 % and 250 % round to the nearest pixel.
    const MenuItemMetrics half = MenuItemMetricsForDpi(144);
    EXPECT_EQ(half.fontHeight, 21);
    EXPECT_EQ(half.pictureSize, 27);
    EXPECT_EQ(half.textLeft, 39);
    const MenuItemMetrics most = MenuItemMetricsForDpi(240);
    EXPECT_EQ(most.fontHeight, 35);
    EXPECT_EQ(most.pictureSize, 45);
    EXPECT_EQ(most.textTop, 10);
    EXPECT_EQ(MeasureMenuItem(most, 140, 40).width, 140 + 65);

    // No DPI known: the base sizes.
    EXPECT_EQ(MenuItemMetricsForDpi(0).pictureSize, 18);
}

TEST(MenuFontHeight, FollowsTheUsersMenuFontFromTheDescribedHeight) {
    // Windows' own menu font at 96 DPI gives the described 14; at 200 % (-24) twice that.
    EXPECT_EQ(MenuFontHeight(-12, 96), 14);
    EXPECT_EQ(MenuFontHeight(-24, 192), 28);
    // Text made 150 % bigger on a 96-DPI monitor, and a monitor at 125 %.
    EXPECT_EQ(MenuFontHeight(-18, 96), 21);
    EXPECT_EQ(MenuFontHeight(-15, 120), 18);  // 17.5, to the nearest pixel
    EXPECT_EQ(MenuFontHeight(15, 120), 18);   // a cell height counts by its size too
    // No font for the DPI from the system: the DPI alone scales the described height.
    EXPECT_EQ(MenuFontHeight(0, 144), 21);
    EXPECT_EQ(MenuFontHeight(0, 0), 14);
    // An absurd height from the system cannot overflow.
    EXPECT_GT(MenuFontHeight(INT32_MIN, 96), 0);
}
