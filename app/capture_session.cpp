#include "app/capture_session.h"

#include "app/frame_pipeline.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "platform/debug_print.h"
#include "platform/timer.h"

std::atomic<KVCapHandle> g_hCapture{NO_CAPTURE};

namespace {
constexpr int kFpsUsb3 = 45;
constexpr int kFpsOther = 30;

// What KVCapAPI_GetScreenSize reports; only traced.
int g_nCaptureFlip = 0;  // FLIP_*
int g_nReportedWidth = 0;
int g_nReportedHeight = 0;
uint16_t g_nReportedExtra = 0;

// Traces a library call's result as " <name> success\n" or " <name> fail, uResult = %d\n".
void TraceResult(const char* name, int result) {
    if (result == 0) {
        DebugPrint(" %s success\n", name);
    } else {
        DebugPrint(" %s fail, uResult = %d\n", name, result);
    }
}
// A session is restarted only while it runs and no shutdown has begun: a shutdown on the
// sender thread changes the desktop size, whose WM_DISPLAYCHANGE must not wait for that
// thread to end.
bool SessionToRestart() {
    return !ShutdownBegun() && g_nCaptureState.load() != CAPTURE_STOPPED;
}
// A session setting changed while the session is closed, a running session reopened with it.
template <typename Change>
void RestartWith(Change change) {
    bool restart = SessionToRestart();
    if (restart) {
        CloseCapture();
    }
    change();
    if (restart) {
        OpenCapture();
    }
}
}  // namespace

int SessionFps() {
    return (g_USB3_0 & LINK_SPEED_MASK) == LINK_USB3_0 ? kFpsUsb3 : kFpsOther;
}

void InitCapture() {
    SetCaptureState(CAPTURE_STOPPED);
    g_hCapture.store(NO_CAPTURE);
    g_nReportedWidth = 0;
    g_nReportedHeight = 0;
    g_nReportedExtra = 0;
    // g_csFrames needs no set-up and is never torn down: a callback may still arrive while
    // the process exits after the projector was lost.
    TraceResult("KVCapAPI_Initialize", KVCapAPI_Initialize(1, 0, 1));
    BeginOneMsTimerPeriod();
    // A session being closed abandons the frame in flight between two slices.
    SetFrameCancelCheck([] { return g_nCaptureState.load() == CAPTURE_STOPPED; });
}

void CreateCapture() {
    KVCapHandle capture = NO_CAPTURE;
    TraceResult("KVCapAPI_Create", KVCapAPI_Create(&capture));
    g_hCapture.store(capture);
}

void OpenCapture() {
    if (ShutdownBegun()) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(g_csFrames);
        g_FrameQueue.clear();
        g_nQueuedFrames.store(0);
        g_nNextBuffer = 0;
    }
    KVCapHandle capture = g_hCapture.load();
    int result =
        KVCapAPI_GetScreenSize(capture, &g_nReportedWidth, &g_nReportedHeight, &g_nReportedExtra);
    if (result == 0) {
        DebugPrint("m_nWidth: %d, _nHeight: %d\n", g_nReportedWidth, g_nReportedHeight);
    } else {
        DebugPrint(" KVCapAPI_GetScreenSize fail, uResult = %d\n", result);
    }
    TraceResult("KVCapAPI_SetCursorMode", KVCapAPI_SetCursorMode(capture, 1));
    int fps = SessionFps();
    result = KVCapAPI_SetMaxFPS(capture, fps);
    if (result == 0) {
        DebugPrint("Set Capture Frame rate: %d fps\n", fps);
    } else {
        DebugPrint(" KVCapAPI_SetMaxFPS fail, uResult = %d\n", result);
    }
    KVCapAPI_SetFullscreen(capture, 1);
    KVCapSetFlip(capture, g_nCaptureFlip);
    KVCapSetWindow(capture, g_nCaptureWindow.load());
    KVCapAPI_SetColorFormat(capture, CF_24BPP_888);
    DebugPrint("Set Color Format: CF_24BPP_888\n");
    CaptureSize size = CaptureSizeForZoom(SessionZoom());
    result = KVCapAPI_Open(capture, CaptureCallback, 0, size.width, size.height);
    if (result == 0) {
        DebugPrint("%d, %d\n", size.width, size.height);
    } else {
        DebugPrint(" KVCapAPI_Open fail, uResult = %d\n", result);
    }
    SetCaptureState(CAPTURE_RUNNING);
    // Without a sender the session runs on, its frames never leaving the queue.
    g_hSenderThread.store(StartThread(SenderThreadProc));
    TraceResult("KVCapAPI_Start", KVCapAPI_Start(capture));
}

void CloseCapture() {
    SetCaptureState(CAPTURE_STOPPED);
    if (!StopSenderThread()) {
        return;  // the sender's shutdown ends the process; the library is its to keep or release
    }
    TraceResult("KVCapAPI_Close", KVCapAPI_Close(g_hCapture.load()));
    while (g_nQueuedFrames.load() > 0) {
        PopFrame();
    }
}

void ReleaseCapture() {
    if (g_nCaptureState.load() != CAPTURE_STOPPED) {
        CloseCapture();
    }
    TraceResult("KVCapAPI_Release", KVCapAPI_Release(g_hCapture.exchange(NO_CAPTURE)));
    TraceResult("KVCapAPI_Uninitialize", KVCapAPI_Uninitialize());
}

int OnDisplayChange() {
    if (SessionToRestart()) {
        CloseCapture();
        OpenCapture();
    }
    DebugPrint("OnDisplayChange ok\n");
    return 0;
}

int SetCaptureZoom(int zoom) {
    if (SessionToRestart()) {
        CloseCapture();
        g_nCaptureZoom = zoom;
        OpenCapture();
    }
    return 0;
}

void SetCaptureFlip(int flip) {
    RestartWith([flip] { g_nCaptureFlip = flip; });
}

void SetCaptureWindow(uint64_t window) {
    RestartWith([window] {
        g_nCaptureWindow.store(window);
        g_bWindowGone.store(false);  // a closed session's word, not the next one's
    });
    DebugPrint("SetCaptureWindow: 0x%llx\n", static_cast<unsigned long long>(window));
}

bool EndClosedWindow() {
    if (!g_bWindowGone.load() || g_nCaptureWindow.load() == 0) {
        return false;
    }
    SetCaptureWindow(0);
    return true;
}
