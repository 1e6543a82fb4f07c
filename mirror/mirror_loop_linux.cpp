#include "mirror/mirror_loop_linux.h"

#include <cstdio>
#include <optional>

#include "app/capture_events.h"
#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "app/power_mode.h"
#include "kvcap/desktop_target_linux.h"
#include "mirror/mirror_options.h"
#include "mirror/seat_session_linux.h"
#include "platform/debug_print.h"
#include "platform/desktop_xrandr_linux.h"

namespace {

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

MirrorLoop::MirrorLoop(const MirrorLoopSettings& settings)
    : ProgramLoop(MIRROR_PROGRAM_NAME, settings.duration),
      m_settings(settings),
      m_notifier(MIRROR_PROGRAM_NAME) {}

void MirrorLoop::OnStart() {
    if (m_settings.powerMode) {
        ChangePowerMode(*m_settings.powerMode);
    }
    SetWallHold(m_settings.wallHold);
    if (m_settings.flip) {
        SelectFlip(*m_settings.flip);
    }
    if (m_settings.window != 0 && m_settings.window != kPortalWindow) {
        SetCaptureWindow(m_settings.window);
    }
    m_control.Open(!m_settings.screenCast               ? ControlWindows::X11
                   : m_settings.window == kPortalWindow ? ControlWindows::PortalWindow
                                                        : ControlWindows::Portal);
    // Start-up's own change of size came before the loop, as it comes before the window.
    if (m_settings.desktop != nullptr) {
        m_settings.desktop->TakeScreenChange();
    }
    PrintStart(m_settings);
}

// The X connection only wakes the loop: its events are taken before each wait, as Xlib may
// hold some already read.
std::vector<int> MirrorLoop::ExtraFds() {
    int screen = m_settings.screenCast           ? ScreenCastEndedFd()
                 : m_settings.desktop != nullptr ? m_settings.desktop->ConnectionFd()
                                                 : -1;
    return {screen, m_control.Fd()};
}

void MirrorLoop::OnReadable(int fd) {
    if (fd == m_control.Fd()) {
        m_control.Serve();
    } else if (m_settings.screenCast && fd == ScreenCastEndedFd()) {
        // The portal cannot tell a closed window from a cast the user stopped: the desktop is
        // not shared unasked.
        std::fprintf(stderr,
                     m_settings.window == kPortalWindow
                         ? "%s: the window's screen cast ended (the window closed, or the cast "
                           "was stopped)\n"
                         : "%s: the screen cast was stopped\n",
                     MIRROR_PROGRAM_NAME);
        m_screenCastEnded = true;
        PostQuit();
    }
}

void MirrorLoop::BeforeWait() {
    if (m_settings.desktop != nullptr && m_settings.desktop->TakeScreenChange()) {
        OnDisplayChangeMessage();
    }
    if (EndClosedWindow()) {
        std::fprintf(stderr, "%s: the window was closed; showing the whole desktop again\n",
                     MIRROR_PROGRAM_NAME);
    }
}

// Once a second, as the fault poll: logind has moved the projector's nodes to the user in
// front; this run lets the projector go and puts its desktop back.
bool MirrorLoop::OnFaultPollTick() {
    if (m_settings.seat != nullptr && !m_sessionLeft && !m_settings.seat->Active()) {
        std::fprintf(stderr,
                     "%s: another session is in front on the seat; the projector is let go\n",
                     MIRROR_PROGRAM_NAME);
        m_sessionLeft = true;
        PostQuit();
        return false;
    }
    return true;
}

// The desktop is told as well.
void MirrorLoop::OnFaultNotice(WarningKind kind) {
    if (!m_notifier.Notify(FAULT_NOTICE_TITLE, FaultNoticeText(kind), true)) {
        DebugPrint("RunLoop: no desktop notice for the fault\n");
    }
}

// The loop outlives the run (the shutdowns may still reach it), so the socket goes with the loop.
void MirrorLoop::OnEnd(LoopEnd end) {
    if (end == LoopEnd::UnitRemoved && !m_settings.quiet) {
        std::fprintf(stderr, "%s: the projector was unplugged\n", MIRROR_PROGRAM_NAME);
    }
    m_control.Close();
}
