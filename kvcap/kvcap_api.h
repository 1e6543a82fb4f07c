#pragma once

#include <cstddef>
#include <cstdint>

// Our capture library. Every call returns 0 for success and one of the negative KVCAP_E_*
// codes below otherwise. Frames are announced through the callback on a thread of the
// library's own, never on the thread that opens, closes or releases; the callback may block
// for a while. Pixels are 3 bytes each in the order of a Windows 24-bit DIB (blue, green,
// red), rows top first, packed at width x 3 bytes.
//
// Lifecycle: Initialize -> Create -> (settings, GetScreenSize) -> Open -> Start -> ... ->
// Close -> (Open again, any size) ... -> Release -> Uninitialize. Settings are taken when a
// session opens and cannot change while it is open. Close ends delivery and waits for the
// capture thread, so a callback must return once the caller's own state says stop.
//
// The source is the desktop unless a program that lets tests and the demo choose names another
// with KVCapSetSource before KVCapAPI_Initialize (grammar in kvcap/capture_source_choice.h).

using KVCapHandle = uint32_t;

inline constexpr int CF_24BPP_888 = 6;

inline constexpr int KVCAP_OK = 0;
inline constexpr int KVCAP_E_NOT_INITIALIZED = -1;      // no Initialize, or after Uninitialize
inline constexpr int KVCAP_E_ALREADY_INITIALIZED = -2;  // Initialize twice
inline constexpr int KVCAP_E_BAD_HANDLE = -3;           // not a live handle of Create
inline constexpr int KVCAP_E_INVALID_ARG = -4;          // null pointer, bad size, rate or mode
inline constexpr int KVCAP_E_ALREADY_OPEN = -5;         // Open twice, or a setting while open
inline constexpr int KVCAP_E_NOT_OPEN = -6;             // Start or Close without Open
inline constexpr int KVCAP_E_ALREADY_STARTED = -7;      // Start twice
inline constexpr int KVCAP_E_NOT_CURRENT_FRAME = -8;    // copy outside the frame's callback
inline constexpr int KVCAP_E_BUSY = -9;                 // another thread is closing it
inline constexpr int KVCAP_E_WRONG_THREAD = -10;        // Close/Release from the callback
inline constexpr int KVCAP_E_TOO_MANY_HANDLES = -11;    // every handle slot is in use
inline constexpr int KVCAP_E_UNSUPPORTED_FORMAT = -12;  // a colour format but CF_24BPP_888
inline constexpr int KVCAP_E_BAD_SOURCE = -13;      // the source named is malformed or unavailable
inline constexpr int KVCAP_E_SOURCE_FAILED = -14;   // the source could not be opened
inline constexpr int KVCAP_E_CAPTURE_FAILED = -15;  // status of a frame that could not be had
inline constexpr int KVCAP_E_WINDOW_GONE = -16;     // status of a frame: the window shown closed

inline constexpr int KVCAP_MAX_HANDLES = 8;
inline constexpr int KVCAP_MAX_DIMENSION = 8192;  // width and height of a session
inline constexpr int KVCAP_MAX_FPS = 240;
inline constexpr int KVCAP_DEFAULT_FPS = 30;

// Frame descriptor handed to the callback and taken back by KVCapAPI_CopyRawData. The
// 32-bit layout is 46 bytes with the pixel address in bytes 0-3; the address is a whole
// pointer here, so the fields after it sit 4 bytes later in a 64-bit build.
#pragma pack(push, 1)
struct CaptureFrameInfo {
    uint8_t* pixels;        // the frame's pixels; in the pipeline's copy, its frame buffer
    uint32_t reserved1;     // library: the frame's sequence number in its session
    uint32_t byteCount;     // bytes of pixels
    uint8_t reserved2[12];  // library: width, height and colour format, 32 bits each
    int32_t status;         // negative: the call carries no usable frame (a KVCAP_E_* code)
    uint32_t frameFlags;    // library: KVCAP_FRAME_* bits
    uint8_t reserved3[14];
};
#pragma pack(pop)
static_assert(sizeof(CaptureFrameInfo) == 42 + sizeof(uint8_t*));

// The frame's pixels are those of the frame announced before it in the same session: the
// source knew nothing on the screen had changed, and the frame costs nothing to send again.
// Never set on a session's first frame nor on the first after a failed one.
inline constexpr uint32_t KVCAP_FRAME_UNCHANGED = 1;

// Called on the library's capture thread once per frame. The descriptor and the pixels it
// points at are valid until the callback returns; KVCapAPI_CopyRawData takes the descriptor
// (or a faithful copy) only during that time. The result is not examined.
using KVCapFrameCallback = int (*)(CaptureFrameInfo* info);

// The three values are accepted and not interpreted (the program passes 1, 0, 1).
int KVCapAPI_Initialize(int a, int b, int c);
int KVCapAPI_Create(KVCapHandle* handle);
// The captured screen's size and colour depth in bits (`extra`, may be null).
int KVCapAPI_GetScreenSize(KVCapHandle handle, int* width, int* height, uint16_t* extra);
// 1 draws the mouse cursor into the frames, 0 leaves it out (the default).
int KVCapAPI_SetCursorMode(KVCapHandle handle, int mode);
// Frames come no faster than this, 1 to KVCAP_MAX_FPS (KVCAP_DEFAULT_FPS until set).
int KVCapAPI_SetMaxFPS(KVCapHandle handle, int fps);
// 0 or 1; either captures the whole primary screen, the only area there is.
int KVCapAPI_SetFullscreen(KVCapHandle handle, int fullscreen);
int KVCapAPI_SetColorFormat(KVCapHandle handle, int format);
// `flags` must be 0. The frame is width x height, each 1 to KVCAP_MAX_DIMENSION.
int KVCapAPI_Open(KVCapHandle handle, KVCapFrameCallback callback, int flags, int width,
                  int height);
int KVCapAPI_Start(KVCapHandle handle);
// Copies width x height x 3 bytes of the frame being announced into `destination`.
int KVCapAPI_CopyRawData(KVCapHandle handle, void* destination, const CaptureFrameInfo* info);
int KVCapAPI_Close(KVCapHandle handle);
// Closes the session first when it is open.
int KVCapAPI_Release(KVCapHandle handle);
// Releases every handle still live first.
int KVCapAPI_Uninitialize();

// Our own call, beside the maker's: the source the next KVCapAPI_Initialize captures from, as
// the grammar in kvcap/capture_source_choice.h names it; null or "" is the desktop.
void KVCapSetSource(const char* text);
// Ours too: the session mirrors its frames as they are scaled, FLIP_NONE (the default) to
// FLIP_BOTH (image/image_flip.h); a setting like the others, taken when the session opens.
int KVCapSetFlip(KVCapHandle handle, int flip);
// Ours too: the session shows one window instead of the desktop, fitted to the frame between
// black bars (image/window_fit.h): an X window on Linux, a window handle on Windows; 0 (the
// default) is the whole desktop. A setting like the others. Once the window is gone, every
// frame's status is KVCAP_E_WINDOW_GONE.
int KVCapSetWindow(KVCapHandle handle, uint64_t window);
