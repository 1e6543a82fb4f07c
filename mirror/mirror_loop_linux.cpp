#include "mirror/mirror_loop_linux.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "app/capture_events.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "app/program_window.h"
#include "app/shutdown.h"
#include "app/stop_sequence.h"
#include "device/device_discovery.h"
#include "device/device_status.h"
#include "device/opened_unit_linux.h"
#include "mirror/control_socket_linux.h"
#include "mirror/mirror_fault_notices.h"
#include "mirror/mirror_options.h"
#include "platform/debug_print.h"
#include "platform/desktop_notification_linux.h"
#include "platform/desktop_xrandr_linux.h"
#include "platform/unit_removal_linux.h"

namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

// Watched by the optical unit's sg node and SCSI address; not at all where it has no sg node
// (the virtual projector's units).
std::unique_ptr<UnitRemovalMonitor> WatchOpticalUnit() {
    std::string sgNode;
    std::string hctl;
    if (!FindOpenedOpticalUnit(&sgNode, &hctl)) {
        return nullptr;
    }
    auto monitor = std::make_unique<UnitRemovalMonitor>(sgNode, hctl);
    if (!monitor->Open()) {
        DebugPrint("RunMirrorLoop: udev cannot be watched; a removal shows as a failed frame\n");
        return nullptr;
    }
    return monitor;
}

void PollFaults(FaultNotices* notices, DesktopNotifier* notifier) {
    std::optional<WarningKind> kind = notices->Poll(ReadDevFaultStatus());
    if (!kind) {
        return;
    }
    std::fprintf(stderr, "%s: warning: %s\n", MIRROR_PROGRAM_NAME, FaultNoticeText(*kind));
    if (!notifier->Notify(FAULT_NOTICE_TITLE, FaultNoticeText(*kind), true)) {
        DebugPrint("RunMirrorLoop: no desktop notice for the fault\n");
    }
}

void PrintStart(const MirrorLoopSettings& settings) {
    // The 800x600 mode switches the monitor only when it offers such a mode; the mode is kept
    // all the same, as a failed switch is on Windows.
    XRandrDesktop* desktop = settings.desktop;
    bool sized = DispMode.load() == DISP_MODE_800X600 && !settings.extend;
    if (sized && desktop == nullptr) {
        std::fprintf(stderr, "%s: warning: only an X11 desktop can be switched to 800x600\n",
                     MIRROR_PROGRAM_NAME);
    } else if (sized && (desktop->Width() != DISP_800X600_WIDTH ||
                         desktop->Height() != DISP_800X600_HEIGHT)) {
        std::fprintf(stderr, "%s: warning: the primary monitor offers no 800x600 mode\n",
                     MIRROR_PROGRAM_NAME);
    }
    if (settings.quiet) {
        return;
    }
    static const char* const kZoomNames[] = {"original", "1", "2"};
    int32_t zoom = ZoomMode.load();
    std::fprintf(stderr, "%s: showing %s on the projector (%s, zoom %s); Ctrl-C stops\n",
                 MIRROR_PROGRAM_NAME, settings.shown.c_str(),
                 settings.extend                        ? "second screen"
                 : DispMode.load() == DISP_MODE_800X600 ? "800x600"
                                                        : "mirror",
                 zoom >= ZOOM_ORIGINAL && zoom <= ZOOM_2 ? kZoomNames[zoom] : "original");
}

}  // namespace

void HoldStopSignals() {
    sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int MirrorLoop::RunLoop() {
    XRandrDesktop* desktop = m_settings.desktop;
    // What the window's creation does.
    AttachProgramWindow(this);
    std::unique_ptr<UnitRemovalMonitor> removal = WatchOpticalUnit();
    RefreshPowerMode();
    if (m_settings.powerMode) {
        ChangePowerMode(*m_settings.powerMode);
    }
    SetWallHold(m_settings.wallHold);
    if (m_settings.flip) {
        SelectFlip(*m_settings.flip);
    }
    ControlSocket control;
    control.Open();
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    const itimerspec everySecond = {{1, 0}, {1, 0}};
    timerfd_settime(timer, 0, &everySecond, nullptr);
    m_faultPollRunning.store(true);
    ApplySavedZoom();
    // Start-up's own change of size came before the loop, as it comes before the window.
    if (desktop != nullptr) {
        desktop->TakeScreenChange();
    }

    sigset_t signals = StopSignals();
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration<double>(m_settings.duration.value_or(0));
    FaultNotices notices;
    DesktopNotifier notifier(MIRROR_PROGRAM_NAME);
    PrintStart(m_settings);
    m_quit = false;
    while (!m_quit) {
        if (desktop != nullptr && desktop->TakeScreenChange()) {
            OnDisplayChangeMessage();
        }
        pollfd waits[] = {{signalFd, POLLIN, 0},
                          {timer, POLLIN, 0},
                          {desktop != nullptr ? desktop->ConnectionFd() : -1, POLLIN, 0},
                          {removal ? removal->Fd() : -1, POLLIN, 0},
                          {control.Fd(), POLLIN, 0}};
        int timeout = -1;
        if (m_settings.duration) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        poll(waits, std::size(waits), timeout);
        signalfd_siginfo signal{};
        if ((waits[0].revents & POLLIN) && read(signalFd, &signal, sizeof signal) > 0) {
            DebugPrint("RunMirrorLoop: signal %u (%s), will stop vorn_kvusb!\n", signal.ssi_signo,
                       strsignal(static_cast<int>(signal.ssi_signo)));
            m_quit = true;
        }
        uint64_t ticks = 0;
        if ((waits[1].revents & POLLIN) && read(timer, &ticks, sizeof ticks) > 0 &&
            m_faultPollRunning.load()) {
            PollFaults(&notices, &notifier);
        }
        if ((waits[3].revents & POLLIN) && removal->TakeRemoval()) {
            RunStopSequence(StopReason::OpticalUnitRemoved, *this);
        }
        if (waits[4].revents & POLLIN) {
            control.Serve();
        }
        if (m_settings.duration && std::chrono::steady_clock::now() >= deadline) {
            DebugPrint("RunMirrorLoop: the time is up, will stop vorn_kvusb!\n");
            m_quit = true;
        }
    }
    close(signalFd);
    close(timer);
    return 0;
}

void MirrorLoop::StopFaultPoll() {
    m_faultPollRunning.store(false);
}

void MirrorLoop::PostQuit() {
    m_quit = true;
}
