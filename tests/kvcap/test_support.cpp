#include "tests/kvcap/test_support.h"

FrameRecorder* g_Recorder = nullptr;

bool FrameRecorder::WaitForFrames(size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return frames.size() >= count; });
}

size_t FrameRecorder::FrameCount() {
    std::lock_guard lock(mutex);
    return frames.size();
}

bool FrameRecorder::WaitForPicture(const std::function<bool(const std::vector<uint8_t>&)>& wanted) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return wanted(lastPicture); });
}

int RecordFrame(CaptureFrameInfo* info) {
    FrameRecorder& recorder = *g_Recorder;
    recorder.inCallback = true;
    RecordedFrame frame;
    frame.status = info->status;
    frame.byteCount = info->byteCount;
    frame.frameFlags = info->frameFlags;
    frame.thread = std::this_thread::get_id();
    frame.time = std::chrono::steady_clock::now();
    std::vector<uint8_t> pixels(info->byteCount);
    frame.copyResult = KVCapAPI_CopyRawData(recorder.handle, pixels.data(), info);
    size_t index;
    {
        std::lock_guard lock(recorder.mutex);
        index = recorder.frames.size();
        if (index == 0) {
            recorder.firstInfo = *info;
        }
    }
    if (index == 1) {
        std::vector<uint8_t> scratch(info->byteCount);
        recorder.staleCopyResult =
            KVCapAPI_CopyRawData(recorder.handle, scratch.data(), &recorder.firstInfo);
    }
    if (index == 0 && recorder.releaseFromCallback) {
        recorder.closeFromCallbackResult = KVCapAPI_Close(recorder.handle);
        recorder.releaseFromCallbackResult = KVCapAPI_Release(recorder.handle);
    }
    if (index < FrameRecorder::kKeptFrames) {
        frame.pixels = pixels;
    }
    if (index == 0) {
        std::this_thread::sleep_for(recorder.firstCallbackDelay);
    }
    while (recorder.holdUntilStopped && !recorder.stopped) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
        std::lock_guard lock(recorder.mutex);
        if (frame.status == KVCAP_OK) {
            recorder.lastPicture = pixels;
        }
        recorder.frames.push_back(std::move(frame));
    }
    recorder.changed.notify_all();
    recorder.inCallback = false;
    return 0;
}
