#pragma once

#include <atomic>

#include "kvcap/kvcap_api.h"

// The capture library session that produces the frames. Every zoom change and every change
// of the desktop's size closes the session and opens it again.

inline constexpr KVCapHandle NO_CAPTURE = 0;

// Created once at start-up; taken by exchange when released.
extern std::atomic<KVCapHandle> g_hCapture;

// The frame rate a session asks of the library for the link's speed.
int SessionFps();
// Once, at start-up: the capture library, and a 1-ms timer resolution.
void InitCapture();
// KVCapAPI_Create into g_hCapture, traced.
void CreateCapture();
// Configures and starts a session at g_nCaptureZoom's size, with a new sender thread.
// Does nothing once a shutdown has begun.
void OpenCapture();
// Stops the callbacks and the sender thread, closes the session, empties the queue.
void CloseCapture();
// Closes a running session, releases the handle and shuts the library down.
void ReleaseCapture();
// WM_DISPLAYCHANGE: the running session is opened again for the new desktop. Returns 0.
int OnDisplayChange();
// Reopens a running session at `zoom`; with the capture stopped nothing changes. Returns 0.
int SetCaptureZoom(int zoom);
// The flip of every session from now on (FLIP_*); a running session is reopened with it.
void SetCaptureFlip(int flip);
// The one window every session shows from now on (KVCapSetWindow), 0 for the whole desktop; a
// running session is reopened with it.
void SetCaptureWindow(uint64_t window);
// For the program's once-a-second poll: true, once, when the window shown was closed; the
// whole desktop is shown again by then, and the program tells the user.
bool EndClosedWindow();
