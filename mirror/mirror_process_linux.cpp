#include "mirror/mirror_process_linux.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "app/display_mode.h"
#include "app/shutdown.h"
#include "device/device_backend.h"
#include "emulator/virtual_projector.h"
#include "mirror/extended_screen_linux.h"
#include "mirror/mirror_options.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"

// Last: Xlib's macros (None) would replace the names of the headers above.
#include <X11/Xlib.h>

namespace {

constexpr unsigned kCrashRestoreSeconds = 3;  // the most a crash may spend putting back
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Xlib's error handler takes no context of its own.
std::atomic<bool> g_bDisplayLost{false};

// What the user is told of the ends the engine decides on; nothing for the program's own.
const char* EndNote(RunEnd reason) {
    switch (reason) {
        case RunEnd::DeviceLost:
            return "the projector is gone (unplugged?)";
        case RunEnd::LinkFailed:
            return "stopped after 100 failed frames in a row";
        case RunEnd::NoProjector:
            return "no projector with a working USB link found";
        case RunEnd::Stopped:
            break;
    }
    return nullptr;
}

// Where the engine's traces and its ends of the process meet the user.
class MirrorProcess final : public TraceSink, public ExitHandler {
  public:
    MirrorProcess(bool verbose, bool quiet) : m_verbose(verbose), m_quiet(quiet) {}

    void Write(const char* text) override {
        if (m_verbose) {
            std::fputs(text, stderr);
        }
    }

    // Without a projector the run never started: that is said even when quiet.
    void BeforeExit(RunEnd reason) override {
        RemoveExtendedScreen();
        const char* note = EndNote(reason);
        if (note != nullptr && (!m_quiet || reason == RunEnd::NoProjector)) {
            std::fprintf(stderr, "%s: %s\n", MIRROR_PROGRAM_NAME, note);
        }
        FlushVirtualProjector();
    }

  private:
    const bool m_verbose;
    const bool m_quiet;
};

// The 800 x 600 mode changed the monitor, --extend added a screen: put them back on the way
// out, with an alarm in case the crash left the display's lock taken.
void RestoreDesktopAndCrash(int signalNumber) {
    alarm(kCrashRestoreSeconds);
    RemoveExtendedScreenAfterCrash();
    RestoreDesktopAfterCrash();
    raise(signalNumber);
}

// Without its X display the run cannot go on, nor can the desktop be put back; the modes
// are saved and the process ends. Xlib ends it if this returns, so later callers (the capture
// thread's connection dies too) wait for the first.
int OnDisplayLost(Display*) {
    if (!g_bDisplayLost.exchange(true)) {
        std::fprintf(stderr, "%s: the X display was lost\n", MIRROR_PROGRAM_NAME);
        AbandonExtendedScreen();
        SetDisplaySettings();
        ExitProgram(RunEnd::Stopped);
    }
    for (;;) {
        pause();
    }
}

}  // namespace

void StartMirrorProcess(bool verbose, bool quiet) {
    // Never destroyed: threads may trace while the process exits.
    auto* process = new MirrorProcess(verbose, quiet);
    SetTraceSink(process);
    SetExitHandler(process);
    struct sigaction crash {};
    crash.sa_handler = RestoreDesktopAndCrash;
    crash.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&crash.sa_mask);
    for (int signalNumber : kCrashSignals) {
        sigaction(signalNumber, &crash, nullptr);
    }
    XSetIOErrorHandler(OnDisplayLost);
}

void FlushVirtualProjector() {
    if (auto* projector = dynamic_cast<emu::VirtualProjector*>(g_pDeviceBackend)) {
        projector->Flush();
    }
}

bool StopSignalPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
           sigismember(&pending, SIGHUP) == 1;
}
