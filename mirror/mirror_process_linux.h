#pragma once

// The process around the engine, for kvusb-mirror: where its traces go, what the user is told
// when the engine ends the run itself, and the desktop put back when the process crashes or
// loses its X display.

// Traces to standard error with `verbose`, nowhere otherwise; a line for the user when the
// engine ends the process (the projector lost, too many failed frames: unless `quiet`; no
// projector with a link: always). Crash and X display loss handlers.
void StartMirrorProcess(bool verbose, bool quiet);

// Whether a stop signal (SIGINT, SIGTERM, SIGHUP) waits, held for the run's loop: a wait for
// the user before the loop (the portal's dialog, picking a window) gives up on it.
bool StopSignalPending();

// Has the virtual projector, when it is the device, write its report and last frame now.
void FlushVirtualProjector();
