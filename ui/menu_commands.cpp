#include "ui/menu_commands.h"

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "device/device_status.h"
#include "image/image_flip.h"
#include "platform/debug_print.h"
#include "resources/resource.h"

namespace {

struct DisplayCommand {
    uint32_t id;
    int32_t dispMode;
    int32_t zoomMode;
    const char* trace;
};

constexpr DisplayCommand DISPLAY_COMMANDS[] = {
    {IDM_MIRROR_ORIGINAL, DISP_MODE_MIRROR, ZOOM_ORIGINAL, "KVUSB menu: MIRRORMODE ORIGINAL!\n"},
    {IDM_MIRROR_ZOOM1, DISP_MODE_MIRROR, ZOOM_1, "KVUSB menu: MIRRORMODE ZOOM1!\n"},
    {IDM_800X600_ORIGINAL, DISP_MODE_800X600, ZOOM_ORIGINAL, "KVUSB menu: 1:1 Mode Zoom 0!\n"},
    {IDM_800X600_ZOOM1, DISP_MODE_800X600, ZOOM_1, "KVUSB menu: 1:1 Mode Zoom 1!\n"},
    {IDM_800X600_ZOOM2, DISP_MODE_800X600, ZOOM_2, "KVUSB menu: 1:1 Mode Zoom 2!\n"},
};

struct PowerCommand {
    uint32_t id;
    uint8_t mode;
};

constexpr PowerCommand POWER_COMMANDS[] = {
    {IDM_POWER_AUTO, POWER_MODE_AUTO},
    {IDM_POWER_ECO, POWER_MODE_ECO},
};

// A presenter's command: the wall's hold (WALL_*) or the flip (FLIP_*) it chooses.
struct PresenterCommand {
    uint32_t id;
    int32_t value;
    const char* trace;
};

// Freeze and blank turn over: chosen again, the wall is live.
constexpr PresenterCommand HOLD_COMMANDS[] = {
    {IDM_FREEZE, WALL_FROZEN, "KVUSB menu: FREEZE, wall %s!\n"},
    {IDM_BLANK, WALL_BLANK, "KVUSB menu: BLANK, wall %s!\n"},
};

constexpr PresenterCommand FLIP_COMMANDS[] = {
    {IDM_FLIP_NONE, FLIP_NONE, "KVUSB menu: FLIP NONE!\n"},
    {IDM_FLIP_HORIZONTAL, FLIP_HORIZONTAL, "KVUSB menu: FLIP HORIZONTAL!\n"},
    {IDM_FLIP_VERTICAL, FLIP_VERTICAL, "KVUSB menu: FLIP VERTICAL!\n"},
    {IDM_FLIP_BOTH, FLIP_BOTH, "KVUSB menu: FLIP BOTH!\n"},
};

const char* WallWord(int32_t hold) {
    return hold == WALL_FROZEN ? "frozen" : hold == WALL_BLANK ? "blank" : "live";
}

}  // namespace

void RunMenuCommand(uint32_t commandId) {
    for (const DisplayCommand& command : DISPLAY_COMMANDS) {
        if (command.id == commandId) {
            DebugPrint("%s", command.trace);
            SelectDisplayMode(command.dispMode, command.zoomMode);
            return;
        }
    }
    for (const PowerCommand& command : POWER_COMMANDS) {
        if (command.id == commandId) {
            ChangePowerMode(command.mode);
            return;
        }
    }
    for (const PresenterCommand& command : HOLD_COMMANDS) {
        if (command.id == commandId) {
            const int32_t hold = g_nWallHold.load() == command.value ? WALL_LIVE : command.value;
            SetWallHold(hold);
            DebugPrint(command.trace, WallWord(hold));
            return;
        }
    }
    for (const PresenterCommand& command : FLIP_COMMANDS) {
        if (command.id == commandId) {
            DebugPrint("%s", command.trace);
            SelectFlip(command.value);
            return;
        }
    }
}

void RunOneWindowCommand(uint64_t window) {
    if (g_nCaptureWindow.load() != 0) {
        DebugPrint("KVUSB menu: ONE WINDOW off, the whole desktop!\n");
        SetCaptureWindow(0);
    } else if (window == 0) {
        DebugPrint("KVUSB menu: ONE WINDOW, but no window to show!\n");
    } else {
        DebugPrint("KVUSB menu: ONE WINDOW 0x%llx!\n", static_cast<unsigned long long>(window));
        SetCaptureWindow(window);
    }
}

bool ClosedWindowEnded() {
    if (!EndClosedWindow()) {
        return false;
    }
    DebugPrint("vorn_kvusb: the window shown was closed, the whole desktop is back!\n");
    return true;
}
