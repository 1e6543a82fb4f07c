#include "mirror/mirror_process_linux.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

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

// The engine's traces of the ends it decides on, and what the user is told of each.
struct EndNote {
    const char* trace;
    const char* note;
};
constexpr EndNote kEndNotes[] = {
    {"ERROR_DEVICE_NOT_CONNECTED, vorn_kvusb end!!!\n", "the projector is gone (unplugged?)"},
    {"KVUSB cd removed, will stop vorn_kvusb thread!\n", "the projector was unplugged"},
    {"USB Link error, vorn_kvusb end!!!\n", "stopped after 100 failed frames in a row"},
};

// Where the engine's traces and its ends of the process meet the user.
class MirrorProcess final : public TraceSink, public ExitHandler {
  public:
    MirrorProcess(bool verbose, bool quiet) : m_verbose(verbose), m_quiet(quiet) {}

    void Write(const char* text) override {
        if (m_verbose) {
            std::fputs(text, stderr);
        }
        for (const EndNote& end : kEndNotes) {
            if (!m_quiet && std::strcmp(text, end.trace) == 0) {
                std::fprintf(stderr, "%s: %s\n", MIRROR_PROGRAM_NAME, end.note);
            }
        }
    }

    // Exit code 1 comes only from the device search, when no unit with a link is left.
    void BeforeExit(int code) override {
        RemoveExtendedScreen();
        if (code == MIRROR_EXIT_NO_PROJECTOR) {
            std::fprintf(stderr, "%s: no projector with a working USB link found\n",
                         MIRROR_PROGRAM_NAME);
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
        ExitProgram(0);
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
