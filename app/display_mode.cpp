#include "app/display_mode.h"

#include "app/capture_session.h"
#include "image/image_flip.h"
#include "platform/desktop.h"

std::atomic<int32_t> DispMode{DISP_MODE_MIRROR};
std::atomic<int32_t> ZoomMode{0};
std::atomic<int32_t> FlipMode{FLIP_NONE};
int32_t g_nScreenWidth = 0;
int32_t g_nScreenHeight = 0;

void SelectDisplayMode(int dispMode, int zoomMode) {
    if (dispMode == DISP_MODE_MIRROR && DispMode.load() != DISP_MODE_MIRROR) {
        ChangeDesktopSize(g_nScreenWidth, g_nScreenHeight);
        DispMode.store(DISP_MODE_MIRROR);
    } else if (dispMode == DISP_MODE_800X600 && DispMode.load() != DISP_MODE_800X600) {
        ChangeDesktopSize(DISP_800X600_WIDTH, DISP_800X600_HEIGHT);
        DispMode.store(DISP_MODE_800X600);
    }
    SetCaptureZoom(zoomMode);
    ZoomMode.store(zoomMode);
}

bool SelectFlip(int flip) {
    if (flip < FLIP_NONE || flip > FLIP_BOTH) {
        return false;
    }
    FlipMode.store(flip);
    SetCaptureFlip(flip);
    return true;
}

void ApplySavedDisplayMode() {
    const bool saved = GetDisplaySettings() != 0;
    SetCaptureFlip(FlipMode.load());
    TakeUpLeftoverRecord(!saved || DispMode.load() == DISP_MODE_800X600);
    if (!saved) {
        ChangeDesktopSize(DISP_800X600_WIDTH, DISP_800X600_HEIGHT);
        DispMode.store(DISP_MODE_800X600);
    } else if (DispMode.load() == DISP_MODE_800X600) {
        ChangeDesktopSize(DISP_800X600_WIDTH, DISP_800X600_HEIGHT);
    }
}
