#pragma once

// What the tray window's creation and the system's display changes do to the capture
// session.

// WM_CREATE: a saved zoom other than the original size restarts the running session with it.
void ApplySavedZoom();

// WM_DISPLAYCHANGE: traced, and the session opened again for the new desktop.
void OnDisplayChangeMessage();
