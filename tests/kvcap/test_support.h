#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "kvcap/kvcap_api.h"

// What the library's callback saw, recorded the way the frame pipeline takes frames: copied
// with KVCapAPI_CopyRawData during the callback.
struct RecordedFrame {
    int status = 0;
    int copyResult = 0;
    uint32_t byteCount = 0;
    uint32_t frameFlags = 0;
    std::thread::id thread;
    std::chrono::steady_clock::time_point time;
    std::vector<uint8_t> pixels;  // kept for the first kKeptFrames frames only
};

struct FrameRecorder {
    static constexpr size_t kKeptFrames = 4;

    // Set before the session starts.
    KVCapHandle handle = 0;
    std::chrono::milliseconds firstCallbackDelay{0};  // the first callback sleeps this long
    bool holdUntilStopped = false;     // callbacks wait, like the pipeline's with a full queue
    bool releaseFromCallback = false;  // the first callback tries to close and release

    // Written by the test thread, polled by held callbacks (the pipeline's capture state).
    std::atomic<bool> stopped{false};
    std::atomic<bool> inCallback{false};

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<RecordedFrame> frames;
    std::vector<uint8_t> lastPicture;  // of the latest frame that had one
    CaptureFrameInfo firstInfo{};      // the first descriptor, to try copying it later
    int closeFromCallbackResult = 0;
    int releaseFromCallbackResult = 0;
    int staleCopyResult = 0;  // copying the first descriptor during the second callback

    // True once `count` frames were recorded, false after 10 s.
    bool WaitForFrames(size_t count);
    size_t FrameCount();
    // True once the latest picture satisfies `wanted`, false after 10 s.
    bool WaitForPicture(const std::function<bool(const std::vector<uint8_t>&)>& wanted);
};

extern FrameRecorder* g_Recorder;

// The callback handed to KVCapAPI_Open; records into g_Recorder.
int RecordFrame(CaptureFrameInfo* info);
