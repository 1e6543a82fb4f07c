// kvusbtool grab OUT.png [--zoom 0|1|2]: one frame of the desktop as the projector would
// receive it: captured through the capture library at the zoom's size, with the cursor, and
// cut to 854 x 480 as the frame pipeline cuts it.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/frame_pipeline.h"
#include "image/image_file.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/kvcap_api.h"
#include "tools/tool_command.h"
#include "tools/trace_keeper.h"

namespace {

constexpr const char* kCommand = "grab";
constexpr const char* kUsage = "usage: kvusbtool grab OUT.png [--zoom 0|1|2]";
constexpr auto kFrameTimeout = std::chrono::seconds(10);
constexpr int kFps = 30;

// The first good frame, copied out during its callback.
struct Grab {
    KVCapHandle handle = 0;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(FRAME_BUFFER_BYTES);
    std::mutex mutex;
    std::condition_variable done;
    bool grabbed = false;
};
// The capture library's callback takes no context of its own.
Grab* g_Grab = nullptr;

int TakeFrame(CaptureFrameInfo* info) {
    std::lock_guard lock(g_Grab->mutex);
    if (!g_Grab->grabbed && info->status == KVCAP_OK &&
        KVCapAPI_CopyRawData(g_Grab->handle, g_Grab->pixels.data(), info) == KVCAP_OK) {
        g_Grab->grabbed = true;
        g_Grab->done.notify_all();
    }
    return 0;
}

// One frame at `size`, or false with the reason: the capture library's last trace.
bool GrabFrame(Grab* grab, CaptureSize size, std::string* error) {
    TraceKeeper traces;
    g_Grab = grab;
    KVCapSetSource(std::getenv(kCaptureSourceVariable));
    int result = KVCapAPI_Initialize(1, 0, 1);
    if (result == KVCAP_OK) {
        KVCapAPI_Create(&grab->handle);
        KVCapAPI_SetCursorMode(grab->handle, 1);
        KVCapAPI_SetMaxFPS(grab->handle, kFps);
        KVCapAPI_SetColorFormat(grab->handle, CF_24BPP_888);
        result = KVCapAPI_Open(grab->handle, TakeFrame, 0, size.width, size.height);
    }
    if (result == KVCAP_OK) {
        result = KVCapAPI_Start(grab->handle);
    }
    bool grabbed = false;
    if (result == KVCAP_OK) {
        std::unique_lock lock(grab->mutex);
        grabbed = grab->done.wait_for(lock, kFrameTimeout, [grab] { return grab->grabbed; });
    }
    KVCapAPI_Uninitialize();
    if (!grabbed) {
        *error = "no frame of the desktop came";
        if (!traces.Last().empty()) {
            *error += " (" + traces.Last() + ")";
        }
    }
    return grabbed;
}

}  // namespace

int RunGrabCommand(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return ToolError(kCommand, kToolMisused, kUsage);
    }
    const std::string path = argv[1];
    long zoom = ZOOM_ORIGINAL;
    std::string error;
    if (!ParseToolOptions(argc, argv, 2, {{.name = "--zoom", .number = &zoom, .min = 0, .max = 2}},
                          &error)) {
        return ToolError(kCommand, kToolMisused, error);
    }
    if (!ImageFormatSupported(path, &error)) {
        return ToolError(kCommand, kToolMisused, path + ": " + error);
    }
    Grab grab;
    bool grabbed = GrabFrame(&grab, CaptureSizeForZoom(static_cast<int32_t>(zoom)), &error);
    if (!grabbed) {
        return ToolError(kCommand, kToolFailed, error);
    }
    CropToProjectorWindow(grab.pixels.data(), static_cast<int32_t>(zoom));
    grab.pixels.resize(PROJECTOR_FRAME_BYTES);
    if (!WriteImage(path, {PROJECTOR_WIDTH, PROJECTOR_HEIGHT, std::move(grab.pixels)}, &error)) {
        return ToolError(kCommand, kToolFailed, error);
    }
    return 0;
}
