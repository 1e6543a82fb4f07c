#include "ui/menu_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <span>
#include <vector>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "image/image_flip.h"
#include "resources/resource.h"

namespace {

// The pictures of the nine display and power items, in build order, for one state.
std::vector<uint16_t> Pictures(int32_t dispMode, int32_t zoomMode, uint32_t powerMode) {
    std::vector<uint16_t> pictures;
    for (const PictureMenuItem& item : std::span(PICTURE_MENU_ITEMS).first(9)) {
        pictures.push_back(
            MenuItemPicture(item, {dispMode, zoomMode, powerMode, WALL_LIVE, FLIP_NONE, false}));
    }
    return pictures;
}

}  // namespace

TEST(MenuPictures, MirrorOriginal) {
    EXPECT_EQ(Pictures(DISP_MODE_MIRROR, ZOOM_ORIGINAL, 0),
              (std::vector<uint16_t>{IDB_MIRROR_ON, IDB_800X600_OFF, IDB_ORIGINAL_ON, IDB_ZOOM1_OFF,
                                     IDB_ORIGINAL_OFF, IDB_ZOOM1_OFF, IDB_ZOOM2_OFF,
                                     IDB_POWER_AUTO_ON, IDB_POWER_ECO_OFF}));
}

TEST(MenuPictures, MirrorZoom1) {
    EXPECT_EQ(Pictures(DISP_MODE_MIRROR, ZOOM_1, 0),
              (std::vector<uint16_t>{IDB_MIRROR_ON, IDB_800X600_OFF, IDB_ORIGINAL_OFF, IDB_ZOOM1_ON,
                                     IDB_ORIGINAL_OFF, IDB_ZOOM1_OFF, IDB_ZOOM2_OFF,
                                     IDB_POWER_AUTO_ON, IDB_POWER_ECO_OFF}));
}

TEST(MenuPictures, Zoom2UnderMirrorShowsAsMirrorZoom1) {
    EXPECT_EQ(Pictures(DISP_MODE_MIRROR, ZOOM_2, 0),
              (std::vector<uint16_t>{IDB_MIRROR_ON, IDB_800X600_OFF, IDB_ORIGINAL_OFF, IDB_ZOOM1_ON,
                                     IDB_ORIGINAL_OFF, IDB_ZOOM1_OFF, IDB_ZOOM2_OFF,
                                     IDB_POWER_AUTO_ON, IDB_POWER_ECO_OFF}));
}

TEST(MenuPictures, Each800x600ZoomLightsOnlyItsOwnItem) {
    EXPECT_EQ(Pictures(DISP_MODE_800X600, ZOOM_ORIGINAL, 0),
              (std::vector<uint16_t>{IDB_MIRROR_OFF, IDB_800X600_ON, IDB_ORIGINAL_OFF,
                                     IDB_ZOOM1_OFF, IDB_ORIGINAL_ON, IDB_ZOOM1_OFF, IDB_ZOOM2_OFF,
                                     IDB_POWER_AUTO_ON, IDB_POWER_ECO_OFF}));
    EXPECT_EQ(Pictures(DISP_MODE_800X600, ZOOM_1, 0),
              (std::vector<uint16_t>{IDB_MIRROR_OFF, IDB_800X600_ON, IDB_ORIGINAL_OFF,
                                     IDB_ZOOM1_OFF, IDB_ORIGINAL_OFF, IDB_ZOOM1_ON, IDB_ZOOM2_OFF,
                                     IDB_POWER_AUTO_ON, IDB_POWER_ECO_OFF}));
    EXPECT_EQ(Pictures(DISP_MODE_800X600, ZOOM_2, 0),
              (std::vector<uint16_t>{IDB_MIRROR_OFF, IDB_800X600_ON, IDB_ORIGINAL_OFF,
                                     IDB_ZOOM1_OFF, IDB_ORIGINAL_OFF, IDB_ZOOM1_OFF, IDB_ZOOM2_ON,
                                     IDB_POWER_AUTO_ON, IDB_POWER_ECO_OFF}));
}

TEST(MenuPictures, AnyNonZeroPowerModeIsEco) {
    for (uint32_t powerMode : {1u, 2u, 0xFEu}) {
        const std::vector<uint16_t> pictures = Pictures(DISP_MODE_MIRROR, ZOOM_ORIGINAL, powerMode);
        EXPECT_EQ(pictures[7], IDB_POWER_AUTO_OFF);
        EXPECT_EQ(pictures[8], IDB_POWER_ECO_ON);
    }
}

TEST(MenuLayout, ItemsSitWhereTheMenuResourcePutsThem) {
    // Build order, with the menus the resource nests them in.
    const struct {
        MenuLevel level;
        uint32_t position;
    } expected[] = {
        {MenuLevel::DisplayMode, 0}, {MenuLevel::DisplayMode, 1}, {MenuLevel::Mirror, 0},
        {MenuLevel::Mirror, 1},      {MenuLevel::Mode800x600, 0}, {MenuLevel::Mode800x600, 1},
        {MenuLevel::Mode800x600, 2}, {MenuLevel::PowerMode, 0},   {MenuLevel::PowerMode, 1},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(PICTURE_MENU_ITEMS[i].level, expected[i].level) << i;
        EXPECT_EQ(PICTURE_MENU_ITEMS[i].position, expected[i].position) << i;
    }
    // "800x600" and "ECO" keep their resource texts.
    EXPECT_FALSE(PICTURE_MENU_ITEMS[1].text);
    EXPECT_FALSE(PICTURE_MENU_ITEMS[8].text);
    EXPECT_EQ(PICTURE_MENU_ITEMS[6].text, TextRole::Zoom2);
    EXPECT_EQ(TOP_MENU_ITEMS[2].position, 4u);
    EXPECT_EQ(TOP_MENU_ITEMS[2].text, TextRole::About);
    EXPECT_EQ(TOP_MENU_ITEMS[2].bitmap, IDB_ABOUT);
}

TEST(MenuLayout, TheBitmapListHoldsExactlyThePicturesTheItemsUse) {
    std::vector<uint16_t> used;
    for (const TopMenuItem& item : TOP_MENU_ITEMS) {
        used.push_back(item.bitmap);
    }
    for (const PictureMenuItem& item : PICTURE_MENU_ITEMS) {
        for (uint16_t id : {item.bitmapOff, item.bitmapOn}) {
            if (std::find(used.begin(), used.end(), id) == used.end()) {
                used.push_back(id);
            }
        }
    }
    // First use order is the load order.
    EXPECT_EQ(used, std::vector<uint16_t>(std::begin(MENU_BITMAP_IDS), std::end(MENU_BITMAP_IDS)));
}
