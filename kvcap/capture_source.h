#pragma once

#include <cstdint>
#include <memory>

#include "kvcap/capture_source_choice.h"

// What a session asks of its source.
struct CaptureGeometry {
    int width = 0;  // of the frames, in pixels
    int height = 0;
    bool drawCursor = false;
    int fps = 0;          // the most frames a second the session takes
    int flip = 0;         // FLIP_*: how the frames are mirrored as they are scaled
    uint64_t window = 0;  // the one window shown (KVCapSetWindow), 0 for the desktop
};

// The captured screen as KVCapAPI_GetScreenSize reports it.
struct ScreenSize {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};

// One source of frames for one session. Opened on the thread that opens the session, then
// used only by the session's capture thread, and destroyed once that thread has ended.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;
    // Fills `bgr` with the next frame: width x height x 3 bytes, packed rows, top row first,
    // blue, green, red. Returns 0, or a negative KVCAP_E_* code when no frame could be had
    // this time (the session goes on and asks again). `bgr` is the same buffer at every call
    // of a session and holds the last frame, so a source that knows its picture has not
    // changed leaves it as it is and returns kGrabUnchanged, which spares the program
    // everything it would do with a new picture.
    virtual int Grab(uint8_t* bgr) = 0;
};

inline constexpr int kGrabUnchanged = 1;

// The synthetic sources, for the Pattern and Replay choices (capture_source_synthetic.cpp).
ScreenSize SyntheticScreenSize();
std::unique_ptr<CaptureSource> OpenSyntheticSource(const CaptureSourceChoice& choice,
                                                   const CaptureGeometry& geometry);

// The desktop of this platform, for the Desktop and Gdi choices; one file per platform
// (capture_source_win32.cpp, capture_source_none.cpp where there is none yet).
bool DesktopSourceAvailable(CaptureSourceKind kind);
ScreenSize DesktopScreenSize();
std::unique_ptr<CaptureSource> OpenDesktopSource(const CaptureSourceChoice& choice,
                                                 const CaptureGeometry& geometry);
