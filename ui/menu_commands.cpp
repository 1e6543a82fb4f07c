#include "ui/menu_commands.h"

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "device/device_status.h"
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
}
