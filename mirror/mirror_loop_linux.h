#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/program_loop_linux.h"
#include "mirror/mirror_fault_notices.h"
#include "platform/desktop_notification_linux.h"

class XRandrDesktop;

// kvusb-mirror's loop: the Linux programs' loop, with the X desktop's changes (which restart
// the session), the start line, and the fault notices on standard error and the desktop.

struct MirrorLoopSettings {
    XRandrDesktop* desktop = nullptr;  // the X desktop whose changes restart the session, if any
    std::string shown;                 // what the start line says is shown
    bool extend = false;               // a screen of the projector's own: no display mode
    std::optional<uint8_t> powerMode;  // set at the start, as the menu would
    std::optional<double> duration;    // seconds
    bool quiet = false;                // no start-up line
};

class MirrorLoop final : public ProgramLoop {
  public:
    explicit MirrorLoop(const MirrorLoopSettings& settings);

  private:
    void OnStart() override;
    int ExtraFd() override;
    void BeforeWait() override;
    void OnFaultStatus(int status) override;

    const MirrorLoopSettings m_settings;
    FaultNotices m_notices;
    DesktopNotifier m_notifier;
};
