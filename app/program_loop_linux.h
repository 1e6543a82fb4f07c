#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include "app/fault_warnings.h"
#include "app/program_window.h"

// What the tray window is to the Windows program, for a program on Linux (kvusb-mirror,
// kvusbtool stream): the loop the main thread spends the run in. At its start it does what the
// window's creation does (watches udev for the optical unit's removal, reads the power mode,
// starts the once-a-second fault poll, applies a saved zoom); it then answers the fault poll
// and the unit's removal (with the stop sequence) until SIGINT, SIGTERM or SIGHUP comes, the
// run's time is up, or the engine ends it. A fault the poll finds is reported the one way both
// programs share: a line on standard error, once while it lasts. A program adds descriptors
// of its own to wait on.

// First thing in main, before any thread is started: SIGINT, SIGTERM and SIGHUP held back in
// every thread, for the loop to take.
void HoldStopSignals();

enum class LoopEnd {
    Quit,         // the engine asked for it
    Signal,       // SIGINT, SIGTERM or SIGHUP
    UnitRemoved,  // udev reported the optical unit gone; the stop sequence ran
    TimeUp,
};

class ProgramLoop : public ProgramWindow {
  public:
    // `programName` starts the loop's lines for the user.
    ProgramLoop(const char* programName, std::optional<double> duration)
        : m_programName(programName), m_duration(duration) {}

    int RunLoop() final;
    void StopFaultPoll() final;
    void PostQuit() final;

  protected:
    ~ProgramLoop() = default;

    // Once the window's creation duties are done, before the first wait.
    virtual void OnStart() {}
    // Descriptors to wait on beside the loop's own, asked before each wait (-1 entries are
    // left out), and each one's turn once it is readable, unless the run ends on the same
    // wake. PostQuit in either ends the loop before it waits again.
    virtual std::vector<int> ExtraFds() { return {}; }
    virtual void OnReadable(int /*fd*/) {}
    // The loop's turn before each wait, for what needs no descriptor to be seen.
    virtual void BeforeWait() {}
    // Each tick of the fault poll, after the status read; false: nothing more this tick (the
    // program ends its run).
    virtual bool OnFaultPollTick() { return true; }
    // A fault the poll found, after the loop's line for it: once while it lasts.
    virtual void OnFaultNotice(WarningKind) {}
    virtual void OnEnd(LoopEnd) {}

  private:
    void PollFault();

    const char* const m_programName;
    const std::optional<double> m_duration;  // seconds
    FaultNotices m_notices;                  // the loop's own thread only
    // Cleared by the shutdowns, maybe on the sender thread, as they kill the window's timer.
    std::atomic<bool> m_faultPollRunning{false};
    bool m_quit = false;  // the loop's own thread only
};
