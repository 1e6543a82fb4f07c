#include "mirror/mirror_options.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "device/device_status.h"
#include "emulator/virtual_config.h"
#include "mirror/control_command.h"

namespace {

constexpr double kMaxDuration = 1e9;

template <typename T>
struct Choice {
    const char* word;
    T value;
};

constexpr Choice<int32_t> kDisplayModes[] = {{"mirror", DISP_MODE_MIRROR},
                                             {"800x600", DISP_MODE_800X600}};
constexpr Choice<int32_t> kZooms[] = {
    {"original", ZOOM_ORIGINAL}, {"0", ZOOM_ORIGINAL}, {"1", ZOOM_1}, {"2", ZOOM_2}};
constexpr Choice<uint8_t> kPowerModes[] = {{"auto", POWER_MODE_AUTO}, {"eco", POWER_MODE_ECO}};
constexpr Choice<CaptureWay> kCaptureWays[] = {
    {"auto", CaptureWay::Auto}, {"portal", CaptureWay::Portal}, {"x11", CaptureWay::X11}};

template <typename T, size_t N>
bool Choose(const Choice<T> (&choices)[N], std::string_view word, std::optional<T>* value) {
    for (const Choice<T>& choice : choices) {
        if (word == choice.word) {
            *value = choice.value;
            return true;
        }
    }
    return false;
}

bool ParseDuration(const std::string& text, std::optional<double>* duration) {
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0 && seconds <= kMaxDuration)) {
        return false;
    }
    *duration = seconds;
    return true;
}

// An option that takes a value, and what it makes of it; false for a value it cannot take.
struct ValueOption {
    const char* name;
    bool (*parse)(const std::string& value, MirrorOptions* options);
};

constexpr ValueOption kValueOptions[] = {
    {"--display-mode",
     [](const std::string& value, MirrorOptions* options) {
         return Choose(kDisplayModes, value, &options->dispMode);
     }},
    {"--zoom", [](const std::string& value,
                  MirrorOptions* options) { return Choose(kZooms, value, &options->zoomMode); }},
    {"--power",
     [](const std::string& value, MirrorOptions* options) {
         return Choose(kPowerModes, value, &options->powerMode);
     }},
    {"--capture",
     [](const std::string& value, MirrorOptions* options) {
         std::optional<CaptureWay> way;
         bool known = Choose(kCaptureWays, value, &way);
         options->capture = way.value_or(CaptureWay::Auto);
         return known;
     }},
    {"--flip",
     [](const std::string& value, MirrorOptions* options) {
         int flip = 0;
         bool known = ParseFlipWord(value, &flip);
         options->flip = flip;
         return known;
     }},
    {"--window",
     [](const std::string& value, MirrorOptions* options) {
         WindowChoice window;
         bool known = ParseWindowWord(value, &window);
         options->window = window;
         return known;
     }},
    {"--control",
     [](const std::string& value, MirrorOptions* options) {
         options->control = value;
         return ParseControlCommand(value).has_value();
     }},
    {"--duration", [](const std::string& value,
                      MirrorOptions* options) { return ParseDuration(value, &options->duration); }},
    {"--virtual",
     [](const std::string& value, MirrorOptions* options) {
         options->virtualImage = value;
         return !value.empty();
     }},
    {"--device",
     [](const std::string& value, MirrorOptions* options) {
         options->device = value;
         return emu::SelectsVirtualProjector(value);
     }},
};

const ValueOption* FindValueOption(std::string_view name) {
    for (const ValueOption& option : kValueOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

bool IsFlag(std::string_view argument, const char* shortName, const char* longName) {
    return (shortName != nullptr && argument == shortName) || argument == longName;
}

}  // namespace

bool ParseMirrorOptions(int argc, const char* const* argv, MirrorOptions* options,
                        std::string* error) {
    MirrorOptions parsed;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (IsFlag(argument, "-q", "--quiet")) {
            parsed.quiet = true;
            continue;
        }
        if (IsFlag(argument, "-v", "--verbose")) {
            parsed.verbose = true;
            continue;
        }
        if (IsFlag(argument, "-h", "--help")) {
            parsed.help = true;
            continue;
        }
        if (IsFlag(argument, nullptr, "--version")) {
            parsed.version = true;
            continue;
        }
        if (IsFlag(argument, nullptr, "--freeze")) {
            parsed.wallHold = WALL_FROZEN;
            continue;
        }
        if (IsFlag(argument, nullptr, "--blank")) {
            parsed.wallHold = WALL_BLANK;
            continue;
        }
        if (IsFlag(argument, nullptr, "--extend")) {
            parsed.extend = true;
            continue;
        }
        // --window alone, as the last option or before another, picks one by clicking.
        if (argument == "--window" && (i + 1 == argc || argv[i + 1][0] == '-')) {
            parsed.window = WindowChoice{0, true};
            continue;
        }
        std::string_view name = argument.substr(0, argument.find('='));
        const ValueOption* option = FindValueOption(name);
        if (option == nullptr) {
            *error = "unknown option " + std::string(argument);
            return false;
        }
        std::string value;
        if (name.size() < argument.size()) {
            value = argument.substr(name.size() + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            *error = std::string(name) + " needs a value";
            return false;
        }
        if (!option->parse(value, &parsed)) {
            *error = std::string(name) + ": cannot take \"" + value + "\"";
            return false;
        }
    }
    if (parsed.window && parsed.extend) {
        *error = "--window and --extend do not go together";
        return false;
    }
    *options = std::move(parsed);
    return true;
}

const char* MirrorUsage() {
    return "Usage: kvusb-mirror [OPTION]...\n"
           "Shows the desktop on the KVUSB pico projector until it is stopped (Ctrl-C,\n"
           "SIGTERM), the projector is unplugged, another user's session comes in front\n"
           "on the seat, or --duration has passed. One runs per user.\n"
           "\n"
           "  --extend                       the projector as a second screen of 854x480\n"
           "                                 beside the others, instead of a copy: on X11,\n"
           "                                 and on sway with xdg-desktop-portal-wlr; not on\n"
           "                                 GNOME 43 or KDE Plasma 5.27, whose portals\n"
           "                                 offer no virtual screen\n"
           "  --capture auto|portal|x11      read the desktop through the screen-cast portal\n"
           "                                 (Wayland) or the X display; auto takes the\n"
           "                                 portal in a Wayland session where it answers\n"
           "  --display-mode mirror|800x600  mirror the desktop at its own size, or switch\n"
           "                                 the primary monitor to 800x600 while running\n"
           "  --zoom original|1|2            the whole desktop; its middle three quarters\n"
           "                                 across (1); its middle rows (2, 800x600 only)\n"
           "  --power auto|eco               set the projector's power mode\n"
           "  --flip none|horizontal|vertical|both\n"
           "                                 mirror the picture: vertical and horizontal\n"
           "                                 (both) for a projector on the ceiling,\n"
           "                                 horizontal for one behind the screen; kept\n"
           "  --freeze, --blank              start with the wall frozen on its first\n"
           "                                 picture, or black\n"
           "  --window [ID|pick]             show one window instead of the desktop, fitted\n"
           "                                 with black bars, as it moves and resizes: the X\n"
           "                                 window ID (as xwininfo prints it), or the one\n"
           "                                 clicked (pick, or no ID); on Wayland the portal's\n"
           "                                 dialog chooses it. Closed, the desktop is back\n"
           "  --control COMMAND              tell the running kvusb-mirror: freeze, blank\n"
           "                                 (each turns it over; =on, =off set it), live,\n"
           "                                 flip=..., window=ID|pick|desktop, or status;\n"
           "                                 prints the state it leaves (for a desktop's\n"
           "                                 keyboard shortcuts)\n"
           "  --virtual OUT.png              use the virtual projector instead of the\n"
           "                                 device and write what it shows to OUT.png\n"
           "                                 (or OUT.ppm)\n"
           "  --device virtual[:OPTIONS]     the virtual projector with options, as\n"
           "                                 VORN_KVUSB_DEVICE takes them\n"
           "  --duration SECONDS             stop after that long\n"
           "  -q, --quiet                    print errors only\n"
           "  -v, --verbose                  print the program's traces on standard error\n"
           "  -h, --help                     print this help\n"
           "      --version                  print the version\n"
           "\n"
           "The display mode and the zoom are kept for the next run in\n"
           "$XDG_CONFIG_HOME/vorn_kvusb/settings (~/.config when unset); options given\n"
           "override them and are kept too. Projector faults (overheating, fan failure)\n"
           "are shown as desktop notifications and on standard error.\n"
           "\n"
           "Exit status: 0 when it ended, 1 when no projector could be used, 2 on bad\n"
           "usage, or when there is no desktop to show (no X display, no portal, the\n"
           "screen cast declined or stopped); with --control, 3 when none is running;\n"
           "4 when another session came in front on the seat (its user unit starts it\n"
           "again, and it waits until its session is in front).\n";
}

bool ResolveModeOptions(const MirrorOptions& options, const SavedModes& saved,
                        std::optional<ModeSettings>* store, std::string* error) {
    store->reset();
    if (!options.dispMode && !options.zoomMode) {
        return true;
    }
    // Start-up reads any saved display mode other than 1 as mirror, and none as 800x600.
    int32_t savedDispMode = !saved.saved                                    ? DISP_MODE_800X600
                            : saved.dispMode == uint32_t{DISP_MODE_800X600} ? DISP_MODE_800X600
                                                                            : DISP_MODE_MIRROR;
    int32_t dispMode = options.dispMode.value_or(savedDispMode);
    uint32_t savedZoom = saved.zoomMode.value_or(ZOOM_ORIGINAL);
    int32_t zoomMode = options.zoomMode.value_or(
        savedZoom < uint32_t{ZOOM_2} + 1 ? static_cast<int32_t>(savedZoom) : ZOOM_ORIGINAL);
    if (zoomMode == ZOOM_2 && dispMode != DISP_MODE_800X600) {
        if (options.zoomMode) {
            *error = "--zoom 2 needs --display-mode 800x600";
            return false;
        }
        zoomMode = ZOOM_ORIGINAL;
    }
    *store = ModeSettings{static_cast<uint32_t>(dispMode), static_cast<uint32_t>(zoomMode)};
    return true;
}
