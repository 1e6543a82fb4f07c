#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/program_window.h"

class XRandrDesktop;

// What the tray window is to the Windows program, for kvusb-mirror: the loop the main thread
// spends the run in. At its start it does what the window's creation does (watches for the
// optical unit's removal, reads the power mode, starts the once-a-second fault poll, applies a
// saved zoom); it then answers the screen's changes, the fault poll, the unit's removal and the
// control socket's clients until SIGINT, SIGTERM or SIGHUP comes, the unit is removed, or the
// run's time is up.

struct MirrorLoopSettings {
    XRandrDesktop* desktop = nullptr;  // the X desktop whose changes restart the session, if any
    std::string shown;                 // what the start line says is shown
    bool extend = false;               // a screen of the projector's own: no display mode
    std::optional<uint8_t> powerMode;  // set at the start, as the menu would
    std::optional<int> flip;           // likewise
    int32_t wallHold = 0;              // WALL_* at the start
    std::optional<double> duration;    // seconds
    bool quiet = false;                // no start-up line
};

// First thing in main, before any thread is started: SIGINT, SIGTERM and SIGHUP held back in
// every thread, for the loop to take.
void HoldStopSignals();

class MirrorLoop final : public ProgramWindow {
  public:
    explicit MirrorLoop(const MirrorLoopSettings& settings) : m_settings(settings) {}

    int RunLoop() override;
    void StopFaultPoll() override;
    // There is no tray icon and no menu.
    void ReleaseTrayIcon() override {}
    bool ContextMenuOpen() override { return false; }
    void DestroyContextMenu() override {}
    void PostQuit() override;

  private:
    const MirrorLoopSettings m_settings;
    // Cleared by the shutdowns, maybe on the sender thread, as they kill the window's timer.
    std::atomic<bool> m_faultPollRunning{false};
    bool m_quit = false;  // the loop's own thread only
};
