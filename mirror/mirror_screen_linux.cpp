#include "mirror/mirror_screen_linux.h"

#include <cstdio>
#include <cstdlib>

#include "app/frame_pipeline.h"
#include "kvcap/desktop_target_linux.h"
#include "kvcap/screencast_portal_linux.h"
#include "mirror/extended_screen_linux.h"
#include "mirror/mirror_process_linux.h"
#include "mirror/x11_window_linux.h"
#include "platform/desktop_recorded.h"
#include "platform/desktop_xrandr_linux.h"
#include "platform/settings_file.h"
#include "platform/x11_display_linux.h"

namespace {

// How long the portal's dialog may wait for the user.
constexpr int kAnswerSeconds = 120;

bool IsSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

std::string AreaText(const MonitorArea& area) {
    return std::to_string(area.width) + "x" + std::to_string(area.height) + " at " +
           std::to_string(area.x) + "," + std::to_string(area.y);
}

// The portal's grant lives as long as the process: its session ends when the process does.
ScreenCastGrant* g_pScreenCast = nullptr;

// Asks the portal for a screen of `sourceType`, with the token saved under `tokenName` (none
// for a window, which is chosen afresh each time), and makes its stream the capture library's
// target. False with the exit code and *error when
// there is none: 2, or 0 when the run was stopped while the dialog waited.
bool GrantScreenCast(uint32_t sourceType, const char* tokenName, FileSettingsStore* store,
                     int* exitCode, std::string* error) {
    ScreenCastRequest request;
    request.sourceType = sourceType;
    request.embedCursor = true;  // the pointer, as the capture library draws it elsewhere
    if (tokenName != nullptr) {
        request.restoreToken =
            store->Memory().Text(SCREENCAST_SETTINGS_KEY, tokenName).value_or(std::string());
    }
    auto* grant = new ScreenCastGrant;
    int result = OpenScreenCast(request, kAnswerSeconds, StopSignalPending, grant, error);
    if (result != SCREENCAST_GRANTED) {
        delete grant;
        *exitCode = result == SCREENCAST_STOPPED ? 0 : MIRROR_EXIT_USAGE;
        return false;
    }
    g_pScreenCast = grant;
    if (tokenName != nullptr && !grant->restoreToken.empty()) {
        store->WriteText(SCREENCAST_SETTINGS_KEY, tokenName, grant->restoreToken);
    }
    DesktopTarget target;
    target.kind = DesktopTargetKind::PipeWireStream;
    target.pipewireFd = grant->pipewireFd;
    target.node = grant->stream.node;
    if (sourceType == SCREENCAST_SOURCE_VIRTUAL) {
        target.width = PROJECTOR_WIDTH;
        target.height = PROJECTOR_HEIGHT;
    }
    target.window = sourceType == SCREENCAST_SOURCE_WINDOW;
    SetDesktopTarget(target);
    return true;
}

// sway: a headless output, shown through the portal, whose dialog must have picked it.
bool ExtendOnSway(FileSettingsStore* store, MirrorScreen* screen, int* exitCode,
                  std::string* error) {
    std::string name;
    MonitorArea area;
    if (!ExtendSwayScreen(std::getenv("SWAYSOCK"), PROJECTOR_WIDTH, PROJECTOR_HEIGHT, &name, &area,
                          error)) {
        *error = "--extend: " + *error;
        *exitCode = MIRROR_EXIT_USAGE;
        return false;
    }
    bool granted =
        GrantScreenCast(SCREENCAST_SOURCE_MONITOR, SCREENCAST_EXTEND_TOKEN, store, exitCode, error);
    // The portal's word on the position is not always the compositor's; a screen of another
    // size is surely another screen.
    const ScreenCastStream* stream = granted ? &g_pScreenCast->stream : nullptr;
    if (stream != nullptr && stream->width > 0 &&
        (stream->width != area.width || stream->height != area.height)) {
        *error = "--extend: the screen cast shows another screen; choose " + name +
                 " in the portal's dialog";
        *exitCode = MIRROR_EXIT_USAGE;
        granted = false;
    }
    if (!granted) {
        RemoveExtendedScreen();
        return false;
    }
    screen->shown = "a second screen, " + name + " " + AreaText(area);
    return true;
}

// --window: the X window named, checked, or the one the user clicks; on Wayland the portal's
// dialog chooses, as the compositor gives no window IDs.
bool ChooseWindow(const WindowChoice& choice, MirrorScreen* screen, int* exitCode,
                  std::string* error) {
    *exitCode = MIRROR_EXIT_USAGE;
    if (screen->way == CaptureWay::Portal) {
        if (!choice.pick && choice.id != 0) {
            *error = "--window: on Wayland the portal's dialog chooses the window; give no ID";
            return false;
        }
        screen->window = kPortalWindow;
        return true;
    }
    if (choice.pick) {
        return PickX11Window(&screen->window, error) == 0;
    }
    if (choice.id != 0 && !X11WindowExists(choice.id)) {
        char id[32];
        std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(choice.id));
        *error = std::string("--window: no window ") + id + " on the display";
        return false;
    }
    screen->window = choice.id;
    return true;
}

}  // namespace

int ChooseMirrorScreen(const MirrorOptions& options, MirrorScreen* screen, std::string* error) {
    screen->way = options.capture;
    if (screen->way == CaptureWay::Auto) {
        screen->way = IsSet("WAYLAND_DISPLAY") && QueryScreenCastPortal().version > 0
                          ? CaptureWay::Portal
                          : CaptureWay::X11;
    }
    if (screen->way == CaptureWay::Portal) {
        // Only an X display's monitor can be switched to 800 x 600; here the desktop stays.
        g_pDesktop = new RecordedDesktop(0, 0);
        screen->shown = "the Wayland desktop";
        return 0;
    }
    XRandrDesktop* desktop = XRandrDesktop::Open(nullptr);
    if (desktop == nullptr) {
        const char* display = std::getenv("DISPLAY");
        *error = IsSet("DISPLAY") ? std::string("cannot open the X display ") + display
                                  : std::string("no X display: DISPLAY is not set");
        return MIRROR_EXIT_USAGE;
    }
    screen->shown = "display " + desktop->DisplayName();
    if (options.extend) {
        // The monitors keep their modes; the engine's changes of size are only recorded.
        g_pDesktop = new RecordedDesktop(desktop->Width(), desktop->Height());
        delete desktop;
    } else {
        g_pDesktop = desktop;
        screen->x11 = desktop;
    }
    return 0;
}

bool OpenMirrorScreen(const MirrorOptions& options, FileSettingsStore* store, MirrorScreen* screen,
                      int* exitCode, std::string* error) {
    if (options.window && !ChooseWindow(*options.window, screen, exitCode, error)) {
        return false;
    }
    if (!options.extend) {
        if (screen->way != CaptureWay::Portal) {
            return true;
        }
        return screen->window == kPortalWindow
                   ? GrantScreenCast(SCREENCAST_SOURCE_WINDOW, nullptr, store, exitCode, error)
                   : GrantScreenCast(SCREENCAST_SOURCE_MONITOR, SCREENCAST_MIRROR_TOKEN, store,
                                     exitCode, error);
    }
    if (screen->way == CaptureWay::X11) {
        MonitorArea area;
        if (!ExtendX11Screen(PROJECTOR_WIDTH, PROJECTOR_HEIGHT, &area, error)) {
            *error = "--extend: " + *error;
            *exitCode = MIRROR_EXIT_USAGE;
            return false;
        }
        DesktopTarget target;
        target.kind = DesktopTargetKind::X11Monitor;
        target.monitorName = EXTENDED_MONITOR_NAME;
        SetDesktopTarget(target);
        screen->shown = "a second screen, " + std::string(EXTENDED_MONITOR_NAME) + " " +
                        AreaText(area) + " of " + screen->shown;
        return true;
    }
    if (IsSet("SWAYSOCK")) {
        return ExtendOnSway(store, screen, exitCode, error);
    }
    // GNOME, KDE Plasma: the portal makes the screen, at the size its stream is asked for.
    screen->shown = "a second screen of the Wayland desktop";
    return GrantScreenCast(SCREENCAST_SOURCE_VIRTUAL, SCREENCAST_EXTEND_TOKEN, store, exitCode,
                           error);
}
