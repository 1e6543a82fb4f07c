#pragma once

// What a program's window (or its loop) does to the capture session when it starts and when
// the desktop changes.

// At the start: a saved zoom other than the original size restarts the running session with
// it.
void ApplySavedZoom();

// The desktop changed (WM_DISPLAYCHANGE): traced, and the session opened again for it.
void OnDisplayChangeMessage();
