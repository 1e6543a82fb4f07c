// kvusb-mirror: the program on a Linux desktop. The engine of the Windows program (start-up,
// display modes, capture session, frame pipeline, shutdowns) with the X11 or Wayland desktop,
// settings in a file, udev and a signal-driven loop where Windows has its window.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/device_selection.h"
#include "app/display_mode.h"
#include "app/program.h"
#include "emulator/device_request.h"
#include "emulator/virtual_config.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/kvcap_api.h"
#include "mirror/control_socket_linux.h"
#include "mirror/extended_screen_linux.h"
#include "mirror/instance_lock_linux.h"
#include "mirror/mirror_loop_linux.h"
#include "mirror/mirror_options.h"
#include "mirror/mirror_process_linux.h"
#include "mirror/mirror_screen_linux.h"
#include "mirror/seat_session_linux.h"
#include "mirror/x11_window_linux.h"
#include "platform/settings_file.h"

namespace {

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", MIRROR_PROGRAM_NAME, message.c_str());
    return code;
}

// The saved modes, overridden by the options; false with the reason when they clash.
bool ApplyModeOptions(const MirrorOptions& options, FileSettingsStore* store, std::string* error) {
    MemorySettingsStore& values = store->Memory();
    SavedModes saved = {values.HasKey(DISPLAY_SETTINGS_KEY),
                        values.Value(DISPLAY_SETTINGS_KEY, DISP_MODE_VALUE),
                        values.Value(DISPLAY_SETTINGS_KEY, ZOOM_MODE_VALUE)};
    std::optional<ModeSettings> modes;
    if (!ResolveModeOptions(options, saved, &modes, error)) {
        return false;
    }
    if (modes) {
        values.SetValue(DISPLAY_SETTINGS_KEY, DISP_MODE_VALUE, modes->dispMode);
        values.SetValue(DISPLAY_SETTINGS_KEY, ZOOM_MODE_VALUE, modes->zoomMode);
    }
    return true;
}

// The plug-in chain starts the program of every user logged in on the seat; one whose desktop
// is not in front waits until it is, or until a stop signal comes (false).
bool WaitUntilInFront(SeatSession* seat, bool quiet) {
    if (seat->Active()) {
        return true;
    }
    if (!quiet) {
        std::fprintf(stderr, "%s: waiting until this session is in front on its seat\n",
                     MIRROR_PROGRAM_NAME);
    }
    while (!StopSignalPending()) {
        sleep(1);
        if (seat->Active()) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    HoldStopSignals();
    MirrorOptions options;
    std::string error;
    if (!ParseMirrorOptions(argc, argv, &options, &error)) {
        return Fail(MIRROR_EXIT_USAGE, error + " (try kvusb-mirror --help)");
    }
    if (options.help) {
        std::fputs(MirrorUsage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", MIRROR_PROGRAM_NAME, KV_PROGRAM_VERSION);
        return 0;
    }
    if (!options.control.empty()) {
        std::string reply;
        int code = 0;
        std::string command = options.control;
        std::optional<ControlCommand> parsed = ParseControlCommand(command);
        if (parsed->verb == ControlVerb::Window && parsed->window.pick) {
            uint64_t window = 0;
            code = PickX11Window(&window, &error);
            if (code != 0) {
                return Fail(code, error);
            }
            command = "window=" + std::to_string(window);
        }
        code = SendControlCommand(command, &reply, &error);
        if (code != 0) {
            return Fail(code, error);
        }
        std::fputs(reply.c_str(), stdout);
        return 0;
    }
    std::string request;
    emu::VirtualConfig config;
    if (!emu::ComposeDeviceRequest({options.device, std::getenv(emu::kDeviceEnvVar),
                                    !options.virtualImage.empty(), options.virtualImage},
                                   &request, &error) ||
        (!request.empty() && !emu::ParseVirtualConfig(request, &config, &error))) {
        return Fail(MIRROR_EXIT_USAGE, "the virtual projector: " + error);
    }
    KVCapSetSource(std::getenv(kCaptureSourceVariable));

    // The engine's settings and desktop are these from here on. Both live to the end of the
    // process: a shutdown may run on the sender thread while the process exits.
    FileSettingsStore* store = UseSettingsFile(DefaultSettingsFilePath());
    if (!ApplyModeOptions(options, store, &error)) {
        return Fail(MIRROR_EXIT_USAGE, error);
    }

    MirrorScreen screen;
    int result = ChooseMirrorScreen(options, &screen, &error);
    if (result != 0) {
        return Fail(result, error);
    }

    if (!TakeInstanceLock()) {
        return Fail(0, "already running");
    }
    StartMirrorProcess(options.verbose, options.quiet);
    // Lives to the end of the process, as the loop that asks it.
    auto* seat = new SeatSession;
    if (!seat->Find()) {
        delete seat;
        seat = nullptr;
    } else if (!WaitUntilInFront(seat, options.quiet)) {
        return 0;
    }
    if (!OpenMirrorScreen(options, store, &screen, &result, &error)) {
        return Fail(result, error);
    }
    if (!SelectProjector(request.c_str(), emu::MakeVirtualProjector, MIRROR_PROGRAM_NAME, &error)) {
        RemoveExtendedScreen();
        return Fail(MIRROR_EXIT_NO_PROJECTOR, error);
    }
    // Attached to the shutdowns, which the sender thread may still run as the process ends.
    auto* loop = new MirrorLoop({screen.x11, screen.shown, options.extend, options.powerMode,
                                 options.flip, options.wallHold, options.duration, options.quiet,
                                 screen.way == CaptureWay::Portal, screen.window, seat});
    result = RunProgram(nullptr, *loop);
    RemoveExtendedScreen();
    FlushVirtualProjector();
    // The desktop is put back as at every end; with the cast gone there is no desktop to show.
    // A run that gave way to another session's ends with a failure, for its user unit to start
    // it again: it then waits for its session.
    return loop->ScreenCastEnded() ? MIRROR_EXIT_USAGE
           : loop->SessionLeft()   ? MIRROR_EXIT_SESSION_LEFT
                                   : result;
}
