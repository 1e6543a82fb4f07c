#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/program_loop_linux.h"
#include "mirror/control_socket_linux.h"
#include "platform/desktop_notification_linux.h"

class SeatSession;
class XRandrDesktop;

// kvusb-mirror's loop: the Linux programs' loop, with the X desktop's changes (which restart
// the session), the end of the screen cast, the control socket's clients, the start line, the
// end of the window shown, the fault notices on standard error and the desktop, and the end of
// the run when another session comes in front on the seat.

struct MirrorLoopSettings {
    XRandrDesktop* desktop = nullptr;  // the X desktop whose changes restart the session, if any
    std::string shown;                 // what the start line says is shown
    bool extend = false;               // a screen of the projector's own: no display mode
    std::optional<uint8_t> powerMode;  // set at the start, as the menu would
    std::optional<int> flip;           // likewise
    int32_t wallHold = 0;              // WALL_* at the start
    std::optional<double> duration;    // seconds
    bool quiet = false;                // no start-up line, no line for the unit's removal
    bool screenCast = false;           // the desktop comes through the screen-cast portal
    uint64_t window = 0;               // shown instead of the desktop (MirrorScreen::window)
    SeatSession* seat = nullptr;       // the user's session on its seat, if one is followed
};

class MirrorLoop final : public ProgramLoop {
  public:
    explicit MirrorLoop(const MirrorLoopSettings& settings);

    // The screen cast ended under the run (the user stopped it): there is nothing to show.
    bool ScreenCastEnded() const { return m_screenCastEnded; }
    // Another session came in front on the seat: the projector is that user's now.
    bool SessionLeft() const { return m_sessionLeft; }

  private:
    void OnStart() override;
    std::vector<int> ExtraFds() override;
    void OnReadable(int fd) override;
    void BeforeWait() override;
    bool OnFaultPollTick() override;
    void OnFaultNotice(WarningKind kind) override;
    void OnEnd(LoopEnd end) override;

    const MirrorLoopSettings m_settings;
    DesktopNotifier m_notifier;
    bool m_screenCastEnded = false;
    bool m_sessionLeft = false;
    ControlSocket m_control;
};
