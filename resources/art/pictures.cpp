#include "resources/art/pictures.h"

#include "resources/art/image_files.h"
#include "resources/resource.h"

const PictureFile PICTURE_FILES[35] = {
    {IDI_KVUSB, "vorn_kvusb.ico", true, DrawProgramIcon},
    {IDB_DISPLAY_MODE, "menu_display_mode.bmp", false, DrawDisplayModeTop},
    {IDB_POWER_MODE, "menu_power_mode.bmp", false, DrawPowerModeTop},
    {IDB_ABOUT, "menu_about.bmp", false, DrawAboutTop},
    {IDB_MIRROR_OFF, "menu_mirror_off.bmp", false, [] { return DrawMirror(false); }},
    {IDB_MIRROR_ON, "menu_mirror_on.bmp", false, [] { return DrawMirror(true); }},
    {IDB_800X600_OFF, "menu_800x600_off.bmp", false, [] { return Draw800x600(false); }},
    {IDB_800X600_ON, "menu_800x600_on.bmp", false, [] { return Draw800x600(true); }},
    {IDB_ORIGINAL_OFF, "menu_original_off.bmp", false, [] { return DrawOriginal(false); }},
    {IDB_ORIGINAL_ON, "menu_original_on.bmp", false, [] { return DrawOriginal(true); }},
    {IDB_ZOOM1_OFF, "menu_zoom1_off.bmp", false, [] { return DrawZoom1(false); }},
    {IDB_ZOOM1_ON, "menu_zoom1_on.bmp", false, [] { return DrawZoom1(true); }},
    {IDB_ZOOM2_OFF, "menu_zoom2_off.bmp", false, [] { return DrawZoom2(false); }},
    {IDB_ZOOM2_ON, "menu_zoom2_on.bmp", false, [] { return DrawZoom2(true); }},
    {IDB_POWER_AUTO_OFF, "menu_auto_power_off.bmp", false, [] { return DrawAutoPower(false); }},
    {IDB_POWER_AUTO_ON, "menu_auto_power_on.bmp", false, [] { return DrawAutoPower(true); }},
    {IDB_POWER_ECO_OFF, "menu_eco_off.bmp", false, [] { return DrawEco(false); }},
    {IDB_POWER_ECO_ON, "menu_eco_on.bmp", false, [] { return DrawEco(true); }},
    {IDB_FLIP, "menu_flip.bmp", false, DrawFlipTop},
    {IDB_FREEZE_OFF, "menu_freeze_off.bmp", false, [] { return DrawFreeze(false); }},
    {IDB_FREEZE_ON, "menu_freeze_on.bmp", false, [] { return DrawFreeze(true); }},
    {IDB_BLANK_OFF, "menu_blank_off.bmp", false, [] { return DrawBlank(false); }},
    {IDB_BLANK_ON, "menu_blank_on.bmp", false, [] { return DrawBlank(true); }},
    {IDB_FLIP_NONE_OFF, "menu_flip_none_off.bmp", false,
     [] { return DrawFlip(false, false, false); }},
    {IDB_FLIP_NONE_ON, "menu_flip_none_on.bmp", false, [] { return DrawFlip(false, false, true); }},
    {IDB_FLIP_HORIZONTAL_OFF, "menu_flip_horizontal_off.bmp", false,
     [] { return DrawFlip(true, false, false); }},
    {IDB_FLIP_HORIZONTAL_ON, "menu_flip_horizontal_on.bmp", false,
     [] { return DrawFlip(true, false, true); }},
    {IDB_FLIP_VERTICAL_OFF, "menu_flip_vertical_off.bmp", false,
     [] { return DrawFlip(false, true, false); }},
    {IDB_FLIP_VERTICAL_ON, "menu_flip_vertical_on.bmp", false,
     [] { return DrawFlip(false, true, true); }},
    {IDB_FLIP_BOTH_OFF, "menu_flip_both_off.bmp", false,
     [] { return DrawFlip(true, true, false); }},
    {IDB_FLIP_BOTH_ON, "menu_flip_both_on.bmp", false, [] { return DrawFlip(true, true, true); }},
    {IDB_ONE_WINDOW_OFF, "menu_one_window_off.bmp", false, [] { return DrawOneWindow(false); }},
    {IDB_ONE_WINDOW_ON, "menu_one_window_on.bmp", false, [] { return DrawOneWindow(true); }},
    {IDB_ABOUT_PICTURE, "about.bmp", false, DrawAboutPicture},
    {IDB_WARNING_PICTURE, "warning.bmp", false, DrawWarningPicture},
};

std::vector<uint8_t> EncodePicture(const PictureFile& picture) {
    const Canvas canvas = picture.draw();
    return picture.isIcon ? EncodeIconFile(canvas) : EncodeBitmapFile(canvas);
}
