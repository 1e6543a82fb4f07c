#include "app/frame_pipeline.h"

#include <cstring>

#include "app/capture_session.h"

std::atomic<int32_t> g_nCaptureState{CAPTURE_STOPPED};
std::atomic<int32_t> g_nQueuedFrames{0};
int32_t g_nCaptureZoom = ZOOM_ORIGINAL;
std::atomic<bool> g_bBlankFrames{false};
std::atomic<uint64_t> g_nCaptureWindow{0};
std::atomic<bool> g_bWindowGone{false};
std::atomic<int32_t> g_nWallHold{WALL_LIVE};
std::atomic<bool> g_bFrameKept{false};

uint8_t g_FrameBuffers[2][FRAME_BUFFER_BYTES];
std::mutex g_csFrames;
std::condition_variable& g_cvFrames = *new std::condition_variable;
std::deque<CaptureFrameInfo>& g_FrameQueue = *new std::deque<CaptureFrameInfo>;
int32_t g_nNextBuffer = 0;

namespace {
constexpr CaptureSize kZoom1Size = {1136, 480};
// The sender's kept frame is not the source's frame before the next one: the last frame
// queued was blanked, or a hold dropped frames. Guarded by g_csFrames.
bool g_bKeptFrameDiffers = false;
// Counts the holds begun, so that a callback that waited through one knows its frame is stale;
// guarded by g_csFrames.
uint32_t g_nHoldsBegun = 0;
constexpr CaptureSize kZoom2Size = {854, 848};
constexpr CaptureSize kOriginalSize = {PROJECTOR_WIDTH, PROJECTOR_HEIGHT};

constexpr uint32_t kProjectorRowBytes = PROJECTOR_WIDTH * PIXEL_BYTES;  // 2562

}  // namespace

// Every row of the window lies at or after the place it moves to, so copying forwards row by
// row never overwrites a byte still to be read.
void CropToProjectorWindow(uint8_t* buffer, int32_t zoom) {
    if (zoom == ZOOM_1) {
        constexpr uint32_t capturedRowBytes = kZoom1Size.width * PIXEL_BYTES;  // 3408
        constexpr uint32_t leftBytes =
            (kZoom1Size.width - PROJECTOR_WIDTH) / 2 * PIXEL_BYTES;  // 423
        for (uint32_t row = 0; row < PROJECTOR_HEIGHT; ++row) {
            std::memmove(buffer + row * kProjectorRowBytes,
                         buffer + row * capturedRowBytes + leftBytes, kProjectorRowBytes);
        }
    } else if (zoom == ZOOM_2) {
        constexpr uint32_t topRows = (kZoom2Size.height - PROJECTOR_HEIGHT) / 2;  // 184
        std::memmove(buffer, buffer + topRows * kProjectorRowBytes, PROJECTOR_FRAME_BYTES);
    }
}

int32_t SessionZoom() {
    return g_nCaptureWindow.load() != 0 ? ZOOM_ORIGINAL : g_nCaptureZoom;
}

CaptureSize CaptureSizeForZoom(int32_t zoom) {
    switch (zoom) {
        case ZOOM_1:
            return kZoom1Size;
        case ZOOM_2:
            return kZoom2Size;
        default:
            return kOriginalSize;
    }
}

int CaptureCallback(CaptureFrameInfo* info) {
    if (info->status == KVCAP_E_WINDOW_GONE) {
        g_bWindowGone.store(true);
    }
    // A blank frame needs nothing captured: the secure desktop of a locked session fails
    // every capture.
    if ((info->status < 0 && !g_bBlankFrames.load()) || g_nCaptureState.load() == CAPTURE_STOPPED) {
        return 0;
    }
    // Back-pressure: the frame waits for room rather than being dropped. A held wall keeps the
    // capture thread here, so that nothing more is captured until the hold ends.
    {
        std::unique_lock<std::mutex> hold(g_csFrames);
        bool stale = WallHeld();
        uint32_t holdsBegun = g_nHoldsBegun;
        g_cvFrames.wait(hold, [] {
            return (g_nQueuedFrames.load() < MAX_QUEUED_FRAMES && !WallHeld()) ||
                   g_nCaptureState.load() == CAPTURE_STOPPED;
        });
        if (g_nCaptureState.load() == CAPTURE_STOPPED || stale || holdsBegun != g_nHoldsBegun) {
            return 0;
        }
    }
    CopyCapturedFrame(info);  // only this thread queues, so the room is still there
    return 0;
}

void CopyCapturedFrame(CaptureFrameInfo* info) {
    std::lock_guard<std::mutex> hold(g_csFrames);
    CaptureFrameInfo frame = *info;
    uint8_t* buffer = g_FrameBuffers[g_nNextBuffer];
    g_nNextBuffer ^= 1;
    frame.pixels = buffer;
    bool blank = g_bBlankFrames.load();
    // A repeat is sent from what the sender kept of the frame before, so it holds only when
    // that frame was captured too, not blanked; its buffer is then not read.
    bool repeat = !blank && !g_bKeptFrameDiffers && (info->frameFlags & KVCAP_FRAME_UNCHANGED) != 0;
    if (!repeat) {
        frame.frameFlags &= ~KVCAP_FRAME_UNCHANGED;
    }
    // A frame queued once a hold has begun (its callback passed the check just before) is
    // dropped by the sender, never kept: what follows it repeats nothing the wall has.
    g_bKeptFrameDiffers = blank || WallHeld();
    if (blank) {
        std::memset(buffer, 0, PROJECTOR_FRAME_BYTES);
    } else if (!repeat) {
        KVCapAPI_CopyRawData(g_hCapture.load(), buffer, info);
        CropToProjectorWindow(buffer, SessionZoom());
    }
    frame.byteCount = PROJECTOR_FRAME_BYTES;
    g_FrameQueue.push_back(frame);
    g_nQueuedFrames.fetch_add(1);
    g_cvFrames.notify_all();
}

void SetCaptureState(int32_t state) {
    std::lock_guard<std::mutex> hold(g_csFrames);
    g_nCaptureState.store(state);
    g_cvFrames.notify_all();
}

bool WallHeld() {
    int32_t hold = g_nWallHold.load();
    return hold == WALL_BLANK || (hold == WALL_FROZEN && g_bFrameKept.load());
}

void SetWallHold(int32_t hold) {
    if (hold != WALL_FROZEN && hold != WALL_BLANK) {
        hold = WALL_LIVE;
    }
    std::lock_guard<std::mutex> lock(g_csFrames);
    if (g_nWallHold.exchange(hold) == WALL_LIVE && hold != WALL_LIVE) {
        ++g_nHoldsBegun;
        g_bKeptFrameDiffers = true;
    }
    g_cvFrames.notify_all();
}

void PopFrame() {
    std::lock_guard<std::mutex> hold(g_csFrames);
    if (!g_FrameQueue.empty()) {
        g_FrameQueue.pop_front();
        g_nQueuedFrames.fetch_sub(1);
        g_cvFrames.notify_all();
    }
}
