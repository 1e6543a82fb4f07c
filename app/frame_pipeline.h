#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "kvcap/kvcap_api.h"
#include "platform/thread.h"

// The frame pipeline: the capture library's callback copies each frame into one of two
// buffers and queues it; the sender thread hands the oldest queued frame to the projector.
// At most two frames are queued; while two are, the capture thread waits in the callback.

// Capture states.
inline constexpr int32_t CAPTURE_STOPPED = 0;
inline constexpr int32_t CAPTURE_RUNNING = 1;

// Zoom values: the size a session captures, of which the centre 854 x 480 reaches the
// projector.
inline constexpr int32_t ZOOM_ORIGINAL = 0;  // 854 x 480, the whole frame
inline constexpr int32_t ZOOM_1 = 1;         // 1136 x 480, columns 141 to 994
inline constexpr int32_t ZOOM_2 = 2;         // 854 x 848, rows 184 to 663

inline constexpr int PROJECTOR_WIDTH = 854;
inline constexpr int PROJECTOR_HEIGHT = 480;
inline constexpr int PIXEL_BYTES = 3;
inline constexpr uint32_t PROJECTOR_FRAME_BYTES =
    PROJECTOR_WIDTH * PROJECTOR_HEIGHT * PIXEL_BYTES;  // 1,229,760
// Room for the largest capture, 854 x 848, and then some.
inline constexpr uint32_t FRAME_BUFFER_BYTES = PROJECTOR_WIDTH * 960 * PIXEL_BYTES;

inline constexpr int MAX_QUEUED_FRAMES = 2;

struct CaptureSize {
    int width;
    int height;
};
// The captured size for a zoom value; ZOOM_ORIGINAL's for any value it does not know.
CaptureSize CaptureSizeForZoom(int32_t zoom);

// Both pipeline threads and the session's owner read these without the lock; the state is
// set through SetCaptureState, so that a thread waiting for it wakes.
extern std::atomic<int32_t> g_nCaptureState;
extern std::atomic<int32_t> g_nQueuedFrames;  // written under g_csFrames only
// The open session's zoom; changed only while the session is closed.
extern int32_t g_nCaptureZoom;
// The one window the open session shows instead of the desktop (KVCapSetWindow), 0 for the
// desktop; changed only while the session is closed.
extern std::atomic<uint64_t> g_nCaptureWindow;
// Set by the callback when the source says the window shown is gone (KVCAP_E_WINDOW_GONE).
extern std::atomic<bool> g_bWindowGone;
// The zoom the open session captures at: one window is fitted to the projector's 854 x 480
// whatever the zoom, which is the desktop's.
int32_t SessionZoom();
// While set (the user's session is locked), every frame queued is black, captured or not:
// the wall shows nothing of the desktop, neither the lock screen nor the last picture from
// before the lock.
extern std::atomic<bool> g_bBlankFrames;

// What the wall shows: the live desktop, the picture it showed when frozen, or black. While
// held (frozen or blank) nothing is captured or encoded: the callback waits, the queue is
// emptied of what was captured before, and the sender resends its kept frame once a frame
// interval. Leaving a hold drops the frame the callback held, so the wall resumes with a
// fresh capture. A freeze takes hold once a frame has been sent: before, there is no picture
// to keep.
inline constexpr int32_t WALL_LIVE = 0;
inline constexpr int32_t WALL_FROZEN = 1;
inline constexpr int32_t WALL_BLANK = 2;
extern std::atomic<int32_t> g_nWallHold;  // set through SetWallHold
// Set, under g_csFrames, once the sender has sent a captured frame.
extern std::atomic<bool> g_bFrameKept;
// Whether g_nWallHold holds the wall now; read under g_csFrames.
bool WallHeld();

extern uint8_t g_FrameBuffers[2][FRAME_BUFFER_BYTES];
// Guards g_FrameQueue, g_nQueuedFrames, g_nNextBuffer and the filling of a buffer. It is
// never held while a frame is sent.
extern std::mutex g_csFrames;
// Signalled, under g_csFrames, when a frame is queued or popped and when the state changes:
// the callback waiting for room and the sender waiting for a frame wake at once, with no
// polling that the system's timer resolution would stretch. Never destroyed: the process may
// exit from the sender thread (the projector lost) while the capture thread waits on it, and
// destroying a condition that a thread waits on blocks the exit for good.
extern std::condition_variable& g_cvFrames;
// Never destroyed: on the device-loss path the capture library may still call back while
// the process exits.
extern std::deque<CaptureFrameInfo>& g_FrameQueue;
extern int32_t g_nNextBuffer;

// The open session's sender thread; taken by exchange so that it is stopped once.
extern std::atomic<ThreadHandle> g_hSenderThread;

// Sender thread's own counters; they outlive sessions.
extern uint32_t g_nLinkErrors;
extern uint32_t g_nStatFrames;
extern uint32_t g_nStatTime;

// Leaves the projector's 854 x 480 window of a frame captured at `zoom`'s size at the start of
// `buffer`, as the pipeline sends it.
void CropToProjectorWindow(uint8_t* buffer, int32_t zoom);

// The capture library's frame callback; returns 0 in every case.
int CaptureCallback(CaptureFrameInfo* info);
void CopyCapturedFrame(CaptureFrameInfo* info);
// The sender thread of one session.
int SenderThreadProc();
// Sets g_nCaptureState and wakes the threads waiting on the pipeline.
void SetCaptureState(int32_t state);
// Sets g_nWallHold (WALL_LIVE, WALL_FROZEN or WALL_BLANK; anything else is taken as live)
// and wakes the pipeline's threads. Freezing from blank keeps the wall black.
void SetWallHold(int32_t hold);
// Removes the oldest queued frame.
void PopFrame();
// Ends the session's sender thread; the caller has set CAPTURE_STOPPED. The thread stops
// between frames, or between slices of a frame; a device request it is blocked in after 75
// polls of 1 ms is cancelled. Called on the sender thread itself it only lets the handle go.
// False, at once, when the thread runs a shutdown instead: it ends the process, and may be
// waiting for the caller's window meanwhile, so the caller must leave the session to it.
bool StopSenderThread();
// True on a sender thread.
bool OnSenderThread();
