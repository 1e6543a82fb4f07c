#pragma once

#include <atomic>
#include <cstdint>

// The two stop sequences every end of the program goes through. Unplugging the projector can
// start both at once (the removal message on the main thread, the lost device on the sender
// thread), so one shutdown runs per process: a later call does not run its sequence again;
// it waits until the running one is done, except on the sender thread, which the running
// one may be waiting for, and where it returns at once.

inline constexpr int32_t SHUTDOWN_NONE = 0;
inline constexpr int32_t SHUTDOWN_RUNNING = 1;
inline constexpr int32_t SHUTDOWN_DONE = 2;
extern std::atomic<int32_t> g_nShutdownState;

bool ShutdownBegun();
// True when a shutdown runs on a thread other than the caller's.
bool ShutdownRunsElsewhere();

// Timer, saved settings, capture session and library, unit handles, desktop size (when the
// program changed it), tray icon. True when this call ran the sequence.
bool Shutdown();
// After the projector was lost, on the sender thread: timer, saved settings, desktop size
// (when the program changed it), tray icon; the capture library and the unit handles are left
// alone. True when this call ran the sequence.
bool ShutdownAfterDeviceLoss();

// For the unhandled-exception filter: puts back the desktop size the program changed, taking
// no lock and waiting for nothing the crashed code may hold. The change's WM_DISPLAYCHANGE
// reaches the program's own window, which must then answer without touching the session.
void RestoreDesktopAfterCrash();

// The window's part in both sequences (stopping the fault poll, removing the tray icon),
// attached once the window's loop starts; nullptr detaches it.
class ProgramWindow;
void AttachProgramWindow(ProgramWindow* window);
