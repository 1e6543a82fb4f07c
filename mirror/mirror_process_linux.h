#pragma once

// The process around the engine, for kvusb-mirror: where its traces go, what the user is told
// when the engine ends the run itself, and the desktop put back when the process crashes or
// loses its X display.

// Traces to standard error with `verbose`, nowhere otherwise; unless `quiet`, a line for the
// user when the run ends for a reason of its own (the projector lost, too many failed
// frames, no projector with a link). Crash and X display loss handlers.
void StartMirrorProcess(bool verbose, bool quiet);

// Whether a stop signal (SIGINT, SIGTERM, SIGHUP) waits, held for the run's loop: a wait for
// the user before the loop (the portal's dialog, picking a window) gives up on it.
bool StopSignalPending();

// Has the virtual projector, when it is the device, write its report and last frame now.
void FlushVirtualProjector();
