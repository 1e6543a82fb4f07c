#include <algorithm>
#include <chrono>

#include "app/capture_session.h"
#include "app/frame_pipeline.h"
#include "app/shutdown.h"
#include "device/device_discovery.h"
#include "device/frame_transfer.h"
#include "platform/debug_print.h"
#include "platform/process_exit.h"
#include "platform/timer.h"

std::atomic<ThreadHandle> g_hSenderThread{nullptr};
uint32_t g_nLinkErrors = 0;
uint32_t g_nStatFrames = 0;
uint32_t g_nStatTime = 0;

namespace {
constexpr uint32_t kMaxLinkErrors = 100;
constexpr uint32_t kStatWindowFrames = 100;
constexpr int kStopPolls = 75;

thread_local bool t_bSenderThread = false;
// The sender's kept frame is black, sent for a blank wall; the sender thread's own.
bool g_bKeptBlack = false;
const uint8_t g_BlackFrame[FRAME_BYTES] = {};

bool CaptureStopped() {
    return g_nCaptureState.load() == CAPTURE_STOPPED;
}

// Waits for a queued frame or a held wall; false when the session stops first. `wallHold` is
// what the wall is to show; a held wall empties the queue of the frames captured before it.
bool WaitForFrame(int32_t* wallHold) {
    std::unique_lock<std::mutex> hold(g_csFrames);
    g_cvFrames.wait(hold,
                    [] { return g_nQueuedFrames.load() > 0 || WallHeld() || CaptureStopped(); });
    *wallHold = WallHeld() ? g_nWallHold.load() : WALL_LIVE;
    if (*wallHold != WALL_LIVE && !g_FrameQueue.empty()) {
        g_FrameQueue.clear();
        g_nQueuedFrames.store(0);
        g_cvFrames.notify_all();
    }
    return !CaptureStopped();
}

// Waits out the rest of a held frame's interval from `startTime`, or until the session stops
// or the hold changes.
void WaitWhileHeld(int32_t wallHold, uint32_t startTime) {
    auto interval = std::chrono::milliseconds(1000 / SessionFps());
    auto spent = std::chrono::milliseconds(GetTimeMs() - startTime);
    std::unique_lock<std::mutex> hold(g_csFrames);
    g_cvFrames.wait_for(hold, interval - spent,
                        [wallHold] { return g_nWallHold.load() != wallHold || CaptureStopped(); });
}

// What a held wall shows: the kept frame again, or black, which a locked session's wall is
// too. nullptr sends the kept frame.
const uint8_t* HeldFramePixels(int32_t wallHold) {
    bool black = wallHold == WALL_BLANK || g_bBlankFrames.load();
    if (!black || g_bKeptBlack) {
        return nullptr;
    }
    g_bKeptBlack = true;
    return g_BlackFrame;
}

// The front frame's pixels, or nullptr when they repeat the frame before it.
const uint8_t* FrontFramePixels() {
    std::lock_guard<std::mutex> hold(g_csFrames);
    const CaptureFrameInfo& front = g_FrameQueue.front();
    return (front.frameFlags & KVCAP_FRAME_UNCHANGED) != 0 ? nullptr : front.pixels;
}

int SendFrame(const uint8_t* frame) {
    bool usb3 = (g_USB3_0 & LINK_SPEED_MASK) == LINK_USB3_0;
    return usb3 ? SendFrameRaw(frame) : SendFrameCompressed(frame);
}

void CountFrame(uint32_t startTime) {
    g_nStatTime += GetTimeMs() - startTime;
    if (++g_nStatFrames < kStatWindowFrames) {
        return;
    }
    DebugPrint("%d frame cost %d ms\n", g_nStatFrames, g_nStatTime);
    // A window that took no measurable time is counted as 1 ms.
    DebugPrint("Frame rate: %d fps\n", g_nStatFrames * 1000 / std::max<uint32_t>(g_nStatTime, 1));
    g_nStatFrames = 0;
    g_nStatTime = 0;
}
}  // namespace

bool OnSenderThread() {
    return t_bSenderThread;
}

int SenderThreadProc() {
    t_bSenderThread = true;
    NameThisThread("kv-sender");
    for (;;) {
        uint32_t startTime = GetTimeMs();
        int32_t wallHold = WALL_LIVE;
        if (!WaitForFrame(&wallHold)) {
            return 0;
        }
        const uint8_t* frame = nullptr;
        if (wallHold == WALL_LIVE) {
            frame = FrontFramePixels();
            g_bKeptBlack = g_bKeptBlack && frame == nullptr;
        } else {
            frame = HeldFramePixels(wallHold);
        }
        int result = SendFrame(frame);
        if (result == static_cast<int>(ERROR_DEVICE_NOT_CONNECTED)) {
            DebugPrint("ERROR_DEVICE_NOT_CONNECTED, vorn_kvusb end!!!\n");
            if (ShutdownAfterDeviceLoss()) {
                ExitProgram(RunEnd::DeviceLost);
            }
            return 0;  // another shutdown runs and ends the process
        }
        if (result != 0) {
            if (CaptureStopped()) {
                return 0;  // the frame was abandoned because the session is closing
            }
            if (++g_nLinkErrors >= kMaxLinkErrors) {
                DebugPrint("USB Link error, vorn_kvusb end!!!\n");
                if (Shutdown()) {
                    ExitProgram(RunEnd::LinkFailed);
                }
                return 0;
            }
        } else {
            g_nLinkErrors = 0;
            if (wallHold == WALL_LIVE && !g_bFrameKept.load()) {
                std::lock_guard<std::mutex> hold(g_csFrames);
                g_bFrameKept.store(true);
                g_cvFrames.notify_all();
            }
        }
        if (wallHold == WALL_LIVE) {
            PopFrame();
        } else {
            WaitWhileHeld(wallHold, startTime);
        }
        CountFrame(startTime);
        g_bFrameToggle ^= 1;
    }
}

bool StopSenderThread() {
    ThreadHandle thread = g_hSenderThread.exchange(nullptr);
    if (thread == nullptr) {
        return true;
    }
    if (IsCurrentThread(thread)) {
        ForgetThread(thread);  // the link-error shutdown runs on the sender thread itself
        return true;
    }
    // A sender that lost the projector runs its shutdown, whose desktop change waits for this
    // thread's window to answer, and may wait for a desktop change of this thread to end: it
    // is never waited for.
    for (int poll = 0; IsThreadActive(thread); ++poll) {
        if (ShutdownRunsElsewhere()) {
            ForgetThread(thread);
            return false;
        }
        // Still in a device request after the polls: cancel it, and keep doing so until the
        // thread has seen the stopped state, so that the next session's sender never runs
        // beside this one.
        if (poll >= kStopPolls) {
            CancelThreadIo(thread);
        }
        SleepMsAnsweringMessages(1);
    }
    WaitForThread(thread);
    return true;
}
