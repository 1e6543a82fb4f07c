#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mirror/control_command.h"

// The command line of kvusb-mirror, the program on a Linux desktop, and how its choices meet
// the modes saved by the last run.

inline constexpr char MIRROR_PROGRAM_NAME[] = "kvusb-mirror";

// Exit codes beside the engine's 0 (ended) and 1 (no projector).
inline constexpr int MIRROR_EXIT_NO_PROJECTOR = 1;
inline constexpr int MIRROR_EXIT_USAGE = 2;         // bad usage, or no desktop to capture
inline constexpr int MIRROR_EXIT_NOT_RUNNING = 3;   // --control with no instance running
inline constexpr int MIRROR_EXIT_SESSION_LEFT = 4;  // another session came in front on the seat

// Where the desktop is read: the screen-cast portal when the session is Wayland's and the
// portal answers, else the X display; or one of them, forced.
enum class CaptureWay { Auto, Portal, X11 };

struct MirrorOptions {
    std::optional<int32_t> dispMode;        // --display-mode mirror|800x600
    std::optional<int32_t> zoomMode;        // --zoom original|1|2
    std::optional<uint8_t> powerMode;       // --power auto|eco
    std::optional<int> flip;                // --flip none|horizontal|vertical|both
    int32_t wallHold = 0;                   // --freeze, --blank: WALL_*
    std::optional<WindowChoice> window;     // --window [ID|pick]
    std::string control;                    // --control COMMAND
    std::string virtualImage;               // --virtual OUT.png
    std::string device;                     // --device virtual[:options]
    std::optional<double> duration;         // --duration SECONDS
    CaptureWay capture = CaptureWay::Auto;  // --capture auto|portal|x11
    bool extend = false;                    // --extend
    bool quiet = false;                     // -q, --quiet
    bool verbose = false;                   // -v, --verbose
    bool help = false;                      // -h, --help
    bool version = false;                   // --version
};

// Options as "--name value" or "--name=value". False with a one-line reason in *error.
bool ParseMirrorOptions(int argc, const char* const* argv, MirrorOptions* options,
                        std::string* error);

// The --help text.
const char* MirrorUsage();

// The display mode and zoom as the settings hold them, each when present.
struct SavedModes {
    bool saved = false;  // the program's key exists: not a first run
    std::optional<uint32_t> dispMode;
    std::optional<uint32_t> zoomMode;
};

struct ModeSettings {
    uint32_t dispMode;
    uint32_t zoomMode;
};

// What to store before start-up reads the saved modes, so that the options given win and are
// saved at the end like a choice from the menu: nothing when neither --display-mode nor
// --zoom is given. A mode not given keeps its saved value (800x600 on a first run, as
// start-up would choose). As in the menu, zoom 2 comes only with 800x600: asked for with the
// mirror mode it is refused, and a saved zoom 2 falls back to the original size when the
// mirror mode is asked for. False with the reason in *error.
bool ResolveModeOptions(const MirrorOptions& options, const SavedModes& saved,
                        std::optional<ModeSettings>* store, std::string* error);
