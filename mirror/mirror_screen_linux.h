#pragma once

#include <string>

#include "mirror/mirror_options.h"

class FileSettingsStore;
class XRandrDesktop;

// The screen kvusb-mirror shows and the way it is read: the X display's primary monitor, the
// screen a screen-cast portal grants in a Wayland session, or, with --extend, a screen of
// the projector's own beside the others (a RandR monitor on X11, a headless output on sway,
// the portal's virtual screen on other Wayland desktops), 854 x 480 like the projector.
// What --extend added is removed on every end (extended_screen_linux.h).

inline constexpr char EXTENDED_MONITOR_NAME[] = "KVUSB";

// The portal's restore tokens: the user's choice, kept so that later runs need no dialog.
inline constexpr char SCREENCAST_SETTINGS_KEY[] = "Software\\K7Q0KVUSB\\ScreenCast";
inline constexpr char SCREENCAST_MIRROR_TOKEN[] = "MirrorToken";
inline constexpr char SCREENCAST_EXTEND_TOKEN[] = "ExtendToken";

struct MirrorScreen {
    CaptureWay way = CaptureWay::Auto;  // Portal or X11 once chosen
    XRandrDesktop* x11 = nullptr;       // the X desktop the engine switches; mirror mode only
    std::string shown;                  // for the start line: "display :0", ...
    // The one window shown instead of the desktop: an X window's ID, kPortalWindow for the
    // one the portal's user chose, 0 for none.
    uint64_t window = 0;
};

// Before the single-instance check: how the desktop is read, and the X display when it is
// read there; the engine's desktop is set. 0, or the exit code with *error.
int ChooseMirrorScreen(const MirrorOptions& options, MirrorScreen* screen, std::string* error);

// After it: the screen --extend adds, the window --window names or the user picks, the
// portal's grant (its token saved in `store`), the capture library's target. False with the exit
// code and *error when the run cannot go on (the code is 0 when it was stopped while the portal's
// dialog waited).
bool OpenMirrorScreen(const MirrorOptions& options, FileSettingsStore* store, MirrorScreen* screen,
                      int* exitCode, std::string* error);
