#pragma once

#include <cstdint>
#include <vector>

#include "resources/art/canvas.h"

// Every picture the resource script takes, with the drawing that makes it. The generator
// writes them into resources/pictures/; a test checks that the committed files are what the
// drawings give.

struct PictureFile {
    uint16_t resourceId;
    const char* fileName;  // in resources/pictures/
    bool isIcon;           // an .ico with alpha; otherwise an opaque .bmp
    Canvas (*draw)();
};

extern const PictureFile PICTURE_FILES[35];

std::vector<uint8_t> EncodePicture(const PictureFile& picture);

// Drawings, by group.
Canvas DrawDisplayModeTop();
Canvas DrawPowerModeTop();
Canvas DrawAboutTop();
Canvas DrawMirror(bool on);
Canvas Draw800x600(bool on);
Canvas DrawOriginal(bool on);
Canvas DrawZoom1(bool on);
Canvas DrawZoom2(bool on);
Canvas DrawAutoPower(bool on);
Canvas DrawEco(bool on);
Canvas DrawFlipTop();
Canvas DrawFreeze(bool on);
Canvas DrawBlank(bool on);
Canvas DrawFlip(bool horizontal, bool vertical, bool on);
Canvas DrawOneWindow(bool on);
Canvas DrawAboutPicture();
Canvas DrawWarningPicture();
Canvas DrawProgramIcon();
