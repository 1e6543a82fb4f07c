#include "kvcap/kvcap_api.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/image_flip.h"
#include "kvcap/capture_source.h"
#include "kvcap/capture_source_choice.h"
#include "kvcap/frame_pacer.h"
#include "platform/debug_print.h"
#include "platform/thread.h"

namespace {

enum class SessionPhase { Created, Opened, Started, Closing };

// One handle of KVCapAPI_Create. `phase`, the settings and `captureThreadId` are guarded by
// the library lock. The fields of the open session (callback to frame) are set while the
// session opens and starts, read by the capture thread, and cleared only after it ended.
struct Session {
    KVCapHandle handle = 0;
    SessionPhase phase = SessionPhase::Created;
    int cursorMode = 0;
    int flip = 0;  // FLIP_*
    uint64_t window = 0;
    int fps = KVCAP_DEFAULT_FPS;
    std::thread::id captureThreadId;

    KVCapFrameCallback callback = nullptr;
    int width = 0;
    int height = 0;
    std::unique_ptr<CaptureSource> source;
    std::vector<uint8_t> frame;
    std::thread captureThread;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopRequested = false;  // guarded by stopMutex

    // The frame being announced; KVCapAPI_CopyRawData reads the pixels only while
    // `announcing`, and the capture thread writes them only while not.
    std::mutex frameMutex;
    bool announcing = false;
    CaptureFrameInfo current{};
};

struct Library {
    std::mutex mutex;
    bool initialized = false;
    bool shuttingDown = false;
    std::string sourceText;  // KVCapSetSource's, parsed at KVCapAPI_Initialize
    CaptureSourceChoice choice;
    std::vector<std::shared_ptr<Session>> sessions;
    KVCapHandle nextHandle = 1;
};

// Never destroyed: a program may exit with a session still delivering (it does when the
// projector is unplugged), and the capture thread must not find the library gone, nor may a
// running thread's destruction end the process abnormally.
Library& g_Library = *new Library;

void PutField32(uint8_t* field, uint32_t value) {
    std::memcpy(field, &value, sizeof value);
}

void Announce(Session* session, uint32_t sequence, int status, uint32_t frameFlags) {
    CaptureFrameInfo info{};
    info.reserved1 = sequence;
    info.status = status;
    info.frameFlags = frameFlags;
    if (status == KVCAP_OK) {
        info.pixels = session->frame.data();
        info.byteCount = static_cast<uint32_t>(session->frame.size());
    }
    PutField32(info.reserved2, static_cast<uint32_t>(session->width));
    PutField32(info.reserved2 + 4, static_cast<uint32_t>(session->height));
    PutField32(info.reserved2 + 8, CF_24BPP_888);
    {
        std::lock_guard lock(session->frameMutex);
        session->current = info;
        session->announcing = true;
    }
    // The callback gets a copy of its own: whatever it writes there cannot change what
    // KVCapAPI_CopyRawData checks against.
    session->callback(&info);
    std::lock_guard lock(session->frameMutex);
    session->announcing = false;
}

void CaptureThreadProc(Session* session) {
    NameThisThread("kv-capture");
    FramePacer pacer(session->fps);
    int lastStatus = KVCAP_OK;
    for (uint32_t sequence = 0;; ++sequence) {
        {
            std::unique_lock lock(session->stopMutex);
            if (session->stopSignal.wait_until(lock, pacer.Due(),
                                               [session] { return session->stopRequested; })) {
                return;
            }
        }
        pacer.FrameStarted(FramePacer::Clock::now());
        int grabbed = session->source->Grab(session->frame.data());
        int status = grabbed == kGrabUnchanged ? KVCAP_OK : grabbed;
        // A repeat means something only after a frame the callback has had.
        bool repeat = grabbed == kGrabUnchanged && sequence > 0 && lastStatus == KVCAP_OK;
        // Trace changes only: a source that keeps failing would flood the output.
        if (status != lastStatus && status == KVCAP_OK) {
            DebugPrint(" kvcap: frame capture success again\n");
        } else if (status != lastStatus) {
            DebugPrint(" kvcap: frame capture fail, uResult = %d\n", status);
        }
        lastStatus = status;
        Announce(session, sequence, status, repeat ? KVCAP_FRAME_UNCHANGED : 0);
    }
}

// Ends delivery and frees what the open session held. Runs without the library lock, so a
// callback that copies or calls back in while it waits does not deadlock.
void StopSession(Session* session) {
    {
        std::lock_guard lock(session->stopMutex);
        session->stopRequested = true;
    }
    session->stopSignal.notify_all();
    if (session->captureThread.joinable()) {
        session->captureThread.join();
    }
    session->source.reset();
    session->frame = {};
    session->callback = nullptr;
}

std::shared_ptr<Session> FindSession(KVCapHandle handle) {
    for (const std::shared_ptr<Session>& session : g_Library.sessions) {
        if (session->handle == handle) {
            return session;
        }
    }
    return nullptr;
}

// The library lock must be held. KVCAP_OK with `session` set, or the reason there is none.
int LookUp(KVCapHandle handle, std::shared_ptr<Session>* session) {
    if (!g_Library.initialized) {
        return KVCAP_E_NOT_INITIALIZED;
    }
    *session = FindSession(handle);
    return *session ? KVCAP_OK : KVCAP_E_BAD_HANDLE;
}

// Settings change only between sessions. The library lock must be held.
int LookUpClosed(KVCapHandle handle, std::shared_ptr<Session>* session) {
    int result = LookUp(handle, session);
    if (result != KVCAP_OK) {
        return result;
    }
    switch ((*session)->phase) {
        case SessionPhase::Created:
            return KVCAP_OK;
        case SessionPhase::Closing:
            return KVCAP_E_BUSY;
        default:
            return KVCAP_E_ALREADY_OPEN;
    }
}

// Marks a session as closing so that nothing else touches it while it stops. The
// library lock must be held.
int BeginClosing(Session* session) {
    if (session->phase == SessionPhase::Closing) {
        return KVCAP_E_BUSY;
    }
    if (session->phase == SessionPhase::Started &&
        session->captureThreadId == std::this_thread::get_id()) {
        return KVCAP_E_WRONG_THREAD;  // it would wait for itself
    }
    session->phase = SessionPhase::Closing;
    return KVCAP_OK;
}

std::unique_ptr<CaptureSource> OpenSource(const CaptureGeometry& geometry) {
    const CaptureSourceChoice& choice = g_Library.choice;
    return IsSyntheticSource(choice) ? OpenSyntheticSource(choice, geometry)
                                     : OpenDesktopSource(choice, geometry);
}

}  // namespace

int KVCapAPI_Initialize(int, int, int) {
    std::lock_guard lock(g_Library.mutex);
    if (g_Library.initialized) {
        return KVCAP_E_ALREADY_INITIALIZED;
    }
    const std::string& text = g_Library.sourceText;
    CaptureSourceChoice choice;
    if (!ParseCaptureSourceChoice(text, &choice)) {
        DebugPrint(" kvcap: %s \"%s\" names no capture source\n", kCaptureSourceVariable,
                   text.c_str());
        return KVCAP_E_BAD_SOURCE;
    }
    if (!IsSyntheticSource(choice) && !DesktopSourceAvailable(choice.kind)) {
        DebugPrint(" kvcap: this build cannot capture the desktop; set %s=synthetic\n",
                   kCaptureSourceVariable);
        return KVCAP_E_BAD_SOURCE;
    }
    g_Library.choice = std::move(choice);
    g_Library.initialized = true;
    return KVCAP_OK;
}

int KVCapAPI_Create(KVCapHandle* handle) {
    std::lock_guard lock(g_Library.mutex);
    if (!g_Library.initialized) {
        return KVCAP_E_NOT_INITIALIZED;
    }
    if (g_Library.shuttingDown) {
        return KVCAP_E_BUSY;
    }
    if (handle == nullptr) {
        return KVCAP_E_INVALID_ARG;
    }
    if (g_Library.sessions.size() >= KVCAP_MAX_HANDLES) {
        return KVCAP_E_TOO_MANY_HANDLES;
    }
    auto session = std::make_shared<Session>();
    // Handles are not reused, so a released one stays invalid.
    session->handle = g_Library.nextHandle++;
    if (g_Library.nextHandle == 0) {
        g_Library.nextHandle = 1;
    }
    g_Library.sessions.push_back(session);
    *handle = session->handle;
    return KVCAP_OK;
}

int KVCapAPI_GetScreenSize(KVCapHandle handle, int* width, int* height, uint16_t* extra) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUp(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    if (width == nullptr || height == nullptr) {
        return KVCAP_E_INVALID_ARG;
    }
    ScreenSize screen =
        IsSyntheticSource(g_Library.choice) ? SyntheticScreenSize() : DesktopScreenSize();
    *width = screen.width;
    *height = screen.height;
    if (extra != nullptr) {
        *extra = static_cast<uint16_t>(screen.bitsPerPixel);
    }
    return KVCAP_OK;
}

int KVCapSetFlip(KVCapHandle handle, int flip) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    if (flip < FLIP_NONE || flip > FLIP_BOTH) {
        return KVCAP_E_INVALID_ARG;
    }
    session->flip = flip;
    return KVCAP_OK;
}

int KVCapSetWindow(KVCapHandle handle, uint64_t window) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result == KVCAP_OK) {
        session->window = window;
    }
    return result;
}

int KVCapAPI_SetCursorMode(KVCapHandle handle, int mode) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    if (mode != 0 && mode != 1) {
        return KVCAP_E_INVALID_ARG;
    }
    session->cursorMode = mode;
    return KVCAP_OK;
}

int KVCapAPI_SetMaxFPS(KVCapHandle handle, int fps) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    if (fps < 1 || fps > KVCAP_MAX_FPS) {
        return KVCAP_E_INVALID_ARG;
    }
    session->fps = fps;
    return KVCAP_OK;
}

int KVCapAPI_SetFullscreen(KVCapHandle handle, int fullscreen) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    // The whole primary screen is the only area there is to capture.
    return fullscreen == 0 || fullscreen == 1 ? KVCAP_OK : KVCAP_E_INVALID_ARG;
}

int KVCapAPI_SetColorFormat(KVCapHandle handle, int format) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    return format == CF_24BPP_888 ? KVCAP_OK : KVCAP_E_UNSUPPORTED_FORMAT;
}

int KVCapAPI_Open(KVCapHandle handle, KVCapFrameCallback callback, int flags, int width,
                  int height) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUpClosed(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    if (callback == nullptr || flags != 0 || width < 1 || width > KVCAP_MAX_DIMENSION ||
        height < 1 || height > KVCAP_MAX_DIMENSION) {
        return KVCAP_E_INVALID_ARG;
    }
    CaptureGeometry geometry{width,        height,        session->cursorMode == 1,
                             session->fps, session->flip, session->window};
    std::unique_ptr<CaptureSource> source = OpenSource(geometry);
    if (!source) {
        return KVCAP_E_SOURCE_FAILED;
    }
    session->source = std::move(source);
    session->frame.assign(static_cast<size_t>(width) * height * 3, 0);
    session->callback = callback;
    session->width = width;
    session->height = height;
    session->phase = SessionPhase::Opened;
    return KVCAP_OK;
}

int KVCapAPI_Start(KVCapHandle handle) {
    std::lock_guard lock(g_Library.mutex);
    std::shared_ptr<Session> session;
    int result = LookUp(handle, &session);
    if (result != KVCAP_OK) {
        return result;
    }
    switch (session->phase) {
        case SessionPhase::Created:
            return KVCAP_E_NOT_OPEN;
        case SessionPhase::Started:
            return KVCAP_E_ALREADY_STARTED;
        case SessionPhase::Closing:
            return KVCAP_E_BUSY;
        case SessionPhase::Opened:
            break;
    }
    {
        std::lock_guard stopLock(session->stopMutex);
        session->stopRequested = false;
    }
    session->captureThread = std::thread(CaptureThreadProc, session.get());
    session->captureThreadId = session->captureThread.get_id();
    session->phase = SessionPhase::Started;
    return KVCAP_OK;
}

int KVCapAPI_CopyRawData(KVCapHandle handle, void* destination, const CaptureFrameInfo* info) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(g_Library.mutex);
        int result = LookUp(handle, &session);
        if (result != KVCAP_OK) {
            return result;
        }
    }
    if (destination == nullptr || info == nullptr) {
        return KVCAP_E_INVALID_ARG;
    }
    std::lock_guard frameLock(session->frameMutex);
    const CaptureFrameInfo& current = session->current;
    if (!session->announcing || current.status != KVCAP_OK || info->pixels != current.pixels ||
        info->reserved1 != current.reserved1) {
        return KVCAP_E_NOT_CURRENT_FRAME;
    }
    std::memcpy(destination, current.pixels, current.byteCount);
    return KVCAP_OK;
}

int KVCapAPI_Close(KVCapHandle handle) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(g_Library.mutex);
        int result = LookUp(handle, &session);
        if (result != KVCAP_OK) {
            return result;
        }
        if (session->phase == SessionPhase::Created) {
            return KVCAP_E_NOT_OPEN;
        }
        result = BeginClosing(session.get());
        if (result != KVCAP_OK) {
            return result;
        }
    }
    StopSession(session.get());
    std::lock_guard lock(g_Library.mutex);
    session->phase = SessionPhase::Created;
    return KVCAP_OK;
}

int KVCapAPI_Release(KVCapHandle handle) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(g_Library.mutex);
        int result = LookUp(handle, &session);
        if (result != KVCAP_OK) {
            return result;
        }
        result = BeginClosing(session.get());
        if (result != KVCAP_OK) {
            return result;
        }
    }
    StopSession(session.get());
    std::lock_guard lock(g_Library.mutex);
    std::erase(g_Library.sessions, session);
    return KVCAP_OK;
}

int KVCapAPI_Uninitialize() {
    std::vector<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(g_Library.mutex);
        if (!g_Library.initialized) {
            return KVCAP_E_NOT_INITIALIZED;
        }
        if (g_Library.shuttingDown) {
            return KVCAP_E_BUSY;
        }
        for (const std::shared_ptr<Session>& session : g_Library.sessions) {
            if (session->phase == SessionPhase::Closing) {
                return KVCAP_E_BUSY;
            }
            if (session->phase == SessionPhase::Started &&
                session->captureThreadId == std::this_thread::get_id()) {
                return KVCAP_E_WRONG_THREAD;
            }
        }
        for (const std::shared_ptr<Session>& session : g_Library.sessions) {
            session->phase = SessionPhase::Closing;
        }
        g_Library.shuttingDown = true;
        sessions = g_Library.sessions;
    }
    for (const std::shared_ptr<Session>& session : sessions) {
        StopSession(session.get());
    }
    std::lock_guard lock(g_Library.mutex);
    g_Library.sessions.clear();
    g_Library.shuttingDown = false;
    g_Library.initialized = false;
    return KVCAP_OK;
}

void KVCapSetSource(const char* text) {
    std::lock_guard lock(g_Library.mutex);
    g_Library.sourceText = text != nullptr ? text : "";
}
