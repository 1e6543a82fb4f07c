#include "ui/menu_layout.h"

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "image/image_flip.h"
#include "resources/resource.h"

namespace {

constexpr const char* DISPLAY_MODE_TRACE_GROUP = "hbmp4_7";
constexpr const char* ZOOM_TRACE_GROUP = "hbmp8_13";
constexpr const char* POWER_TRACE_GROUP = "hbmp14_17";
constexpr const char* PRESENTER_TRACE_GROUP = "hbmp_presenter";

}  // namespace

const SubMenuLink SUB_MENU_LINKS[MENU_LEVEL_COUNT - 1] = {
    {MenuLevel::DisplayMode, MenuLevel::Top, 2},
    {MenuLevel::Mirror, MenuLevel::DisplayMode, 0},
    {MenuLevel::Mode800x600, MenuLevel::DisplayMode, 1},
    {MenuLevel::PowerMode, MenuLevel::Top, 3},
    {MenuLevel::Flip, MenuLevel::Top, 8},
};

const TopMenuItem TOP_MENU_ITEMS[4] = {
    {2, TextRole::DisplayMode, IDB_DISPLAY_MODE},
    {3, TextRole::PowerMode, IDB_POWER_MODE},
    {4, TextRole::About, IDB_ABOUT},
    {8, TextRole::Flip, IDB_FLIP},
};

const PictureMenuItem PICTURE_MENU_ITEMS[16] = {
    {MenuLevel::DisplayMode, 0, TextRole::Mirror, IDB_MIRROR_OFF, IDB_MIRROR_ON, MenuCheck::Mirror,
     DISPLAY_MODE_TRACE_GROUP},
    {MenuLevel::DisplayMode, 1, std::nullopt, IDB_800X600_OFF, IDB_800X600_ON,
     MenuCheck::Mode800x600, DISPLAY_MODE_TRACE_GROUP},
    {MenuLevel::Mirror, 0, TextRole::Original, IDB_ORIGINAL_OFF, IDB_ORIGINAL_ON,
     MenuCheck::MirrorOriginal, ZOOM_TRACE_GROUP},
    {MenuLevel::Mirror, 1, TextRole::Zoom1, IDB_ZOOM1_OFF, IDB_ZOOM1_ON, MenuCheck::MirrorZoom1,
     ZOOM_TRACE_GROUP},
    {MenuLevel::Mode800x600, 0, TextRole::Original, IDB_ORIGINAL_OFF, IDB_ORIGINAL_ON,
     MenuCheck::Original800x600, ZOOM_TRACE_GROUP},
    {MenuLevel::Mode800x600, 1, TextRole::Zoom1, IDB_ZOOM1_OFF, IDB_ZOOM1_ON,
     MenuCheck::Zoom1_800x600, ZOOM_TRACE_GROUP},
    {MenuLevel::Mode800x600, 2, TextRole::Zoom2, IDB_ZOOM2_OFF, IDB_ZOOM2_ON,
     MenuCheck::Zoom2_800x600, ZOOM_TRACE_GROUP},
    {MenuLevel::PowerMode, 0, TextRole::AutoPower, IDB_POWER_AUTO_OFF, IDB_POWER_AUTO_ON,
     MenuCheck::AutoPower, POWER_TRACE_GROUP},
    {MenuLevel::PowerMode, 1, std::nullopt, IDB_POWER_ECO_OFF, IDB_POWER_ECO_ON, MenuCheck::Eco,
     POWER_TRACE_GROUP},
    {MenuLevel::Top, 6, TextRole::Freeze, IDB_FREEZE_OFF, IDB_FREEZE_ON, MenuCheck::Freeze,
     PRESENTER_TRACE_GROUP},
    {MenuLevel::Top, 7, TextRole::Blank, IDB_BLANK_OFF, IDB_BLANK_ON, MenuCheck::Blank,
     PRESENTER_TRACE_GROUP},
    {MenuLevel::Flip, 0, TextRole::FlipNone, IDB_FLIP_NONE_OFF, IDB_FLIP_NONE_ON,
     MenuCheck::FlipNone, PRESENTER_TRACE_GROUP},
    {MenuLevel::Flip, 1, TextRole::FlipHorizontal, IDB_FLIP_HORIZONTAL_OFF, IDB_FLIP_HORIZONTAL_ON,
     MenuCheck::FlipHorizontal, PRESENTER_TRACE_GROUP},
    {MenuLevel::Flip, 2, TextRole::FlipVertical, IDB_FLIP_VERTICAL_OFF, IDB_FLIP_VERTICAL_ON,
     MenuCheck::FlipVertical, PRESENTER_TRACE_GROUP},
    {MenuLevel::Flip, 3, TextRole::FlipBoth, IDB_FLIP_BOTH_OFF, IDB_FLIP_BOTH_ON,
     MenuCheck::FlipBoth, PRESENTER_TRACE_GROUP},
    {MenuLevel::Top, 9, TextRole::OneWindow, IDB_ONE_WINDOW_OFF, IDB_ONE_WINDOW_ON,
     MenuCheck::OneWindow, PRESENTER_TRACE_GROUP},
};

const uint16_t MENU_BITMAP_IDS[MENU_BITMAP_COUNT] = {
    IDB_DISPLAY_MODE,
    IDB_POWER_MODE,
    IDB_ABOUT,
    IDB_FLIP,
    IDB_MIRROR_OFF,
    IDB_MIRROR_ON,
    IDB_800X600_OFF,
    IDB_800X600_ON,
    IDB_ORIGINAL_OFF,
    IDB_ORIGINAL_ON,
    IDB_ZOOM1_OFF,
    IDB_ZOOM1_ON,
    IDB_ZOOM2_OFF,
    IDB_ZOOM2_ON,
    IDB_POWER_AUTO_OFF,
    IDB_POWER_AUTO_ON,
    IDB_POWER_ECO_OFF,
    IDB_POWER_ECO_ON,
    IDB_FREEZE_OFF,
    IDB_FREEZE_ON,
    IDB_BLANK_OFF,
    IDB_BLANK_ON,
    IDB_FLIP_NONE_OFF,
    IDB_FLIP_NONE_ON,
    IDB_FLIP_HORIZONTAL_OFF,
    IDB_FLIP_HORIZONTAL_ON,
    IDB_FLIP_VERTICAL_OFF,
    IDB_FLIP_VERTICAL_ON,
    IDB_FLIP_BOTH_OFF,
    IDB_FLIP_BOTH_ON,
    IDB_ONE_WINDOW_OFF,
    IDB_ONE_WINDOW_ON,
};

bool IsMenuCheckOn(MenuCheck check, const MenuState& state) {
    const bool mirror = state.dispMode == DISP_MODE_MIRROR;
    const bool mode800x600 = state.dispMode == DISP_MODE_800X600;
    switch (check) {
        case MenuCheck::Mirror:
            return mirror;
        case MenuCheck::Mode800x600:
            return !mirror;
        case MenuCheck::MirrorOriginal:
            return mirror && state.zoomMode == ZOOM_ORIGINAL;
        case MenuCheck::MirrorZoom1:
            // Mirror offers no Zoom 2, so any zoom shows here.
            return mirror && state.zoomMode != ZOOM_ORIGINAL;
        case MenuCheck::Original800x600:
            return mode800x600 && state.zoomMode == ZOOM_ORIGINAL;
        case MenuCheck::Zoom1_800x600:
            return mode800x600 && state.zoomMode == ZOOM_1;
        case MenuCheck::Zoom2_800x600:
            return mode800x600 && state.zoomMode == ZOOM_2;
        case MenuCheck::AutoPower:
            return state.powerMode == 0;
        case MenuCheck::Eco:
            return state.powerMode != 0;
        case MenuCheck::Freeze:
            return state.wallHold == WALL_FROZEN;
        case MenuCheck::Blank:
            return state.wallHold == WALL_BLANK;
        case MenuCheck::FlipNone:
            return state.flipMode == FLIP_NONE;
        case MenuCheck::FlipHorizontal:
            return state.flipMode == FLIP_HORIZONTAL;
        case MenuCheck::FlipVertical:
            return state.flipMode == FLIP_VERTICAL;
        case MenuCheck::FlipBoth:
            return state.flipMode == FLIP_BOTH;
        case MenuCheck::OneWindow:
            return state.oneWindow;
    }
    return false;
}
