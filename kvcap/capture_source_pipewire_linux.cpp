#include "kvcap/capture_source_pipewire_linux.h"

#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <mutex>
#include <vector>

#include "image/area_scaler.h"
#include "image/window_fit.h"
#include "kvcap/kvcap_api.h"
#include "kvcap/pipewire_buffer_linux.h"
#include "platform/debug_print.h"

// A screen-cast portal's stream through libpipewire: the stream's thread takes the buffers as
// the compositor fills them, copies the newest one that shows a change and gives every buffer
// back at once (a compositor may have as few as two, and fills none while we hold them); a
// session's Grab scales the copy on the capture thread with the stream's loop locked. A
// compositor sends nothing while the screen is still, and may say with each buffer what it
// changed (damage): a buffer that changed nothing is given back unread, and while no new
// picture came Grab leaves the last frame. For the same reason the stream outlives the
// library's sessions: one opened on a still screen (at a new zoom) finds the last picture
// there, where a new stream would get none. A compositor that streams a window at the screen's
// size marks the window's part (crop): only that part is copied, and fitted between bars.

namespace {

constexpr uint32_t kMaxDamageRegions = 16;  // that a buffer may list
constexpr uint32_t kAgeWindow = 100;        // pictures whose age is traced together
constexpr int kMaxSize = KVCAP_MAX_DIMENSION;
constexpr size_t kPodBytes = 1024;
// The size asked for first of a screen that has a size of its own: the projector's.
constexpr uint32_t kPreferredWidth = 854;
constexpr uint32_t kPreferredHeight = 480;

// A copy of the newest buffer, or of its crop: packed rows of width x 4 bytes.
struct Picture {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    bool cropped = false;  // a part of the stream's picture: fitted between bars
    PixelLayout layout;
    int64_t shownAt = 0;  // the compositor's time of it, CLOCK_MONOTONIC ns; 0 if unknown
    const uint8_t* data() const { return pixels.data(); }
};

// How long pictures wait from the compositor's frame until a session has scaled them,
// traced every kAgeWindow pictures.
struct PictureAges {
    uint32_t count = 0;
    double sumMs = 0;
    double mostMs = 0;
};

// What one session keeps of the stream: its frame size, the scaler from the pictures' size,
// and the last picture it scaled.
struct SessionView {
    int width = 0;
    int height = 0;
    int flip = 0;
    std::unique_ptr<AreaScaler> scaler;
    std::unique_ptr<WindowScaler> windowFit;  // for a window's stream or a crop: between bars
    int sourceWidth = 0;
    int sourceHeight = 0;
    uint64_t seen = 0;
};

// The connection to the stream, made by the first session and kept for the process.
class PipeWireStream {
  public:
    PipeWireStream(const DesktopTarget& target, int fps) : m_target(target), m_fps(fps) {}
    ~PipeWireStream();

    bool Open();
    bool Serves(const DesktopTarget& target) const {
        return target.pipewireFd == m_target.pipewireFd && target.node == m_target.node;
    }
    // Scales the held picture into `bgr` when the session has not scaled it yet.
    int ScaleNewest(SessionView* view, uint8_t* bgr);

  private:
    static void OnStateChanged(void* self, pw_stream_state old, pw_stream_state state,
                               const char* error);
    static void OnGlobalRemoved(void* self, uint32_t id);
    static void OnParamChanged(void* self, uint32_t id, const spa_pod* param);
    static void OnProcess(void* self);

    void End(const char* why);
    void NegotiateBuffers(const spa_pod* format);
    void TakeBuffers();
    void CountAge();

    const DesktopTarget m_target;
    const int m_fps;
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_listener{};
    pw_registry* m_registry = nullptr;  // tells when the screen's node goes
    spa_hook m_registryListener{};

    // Below: the stream's thread writes, sessions read, both with the loop locked.
    bool m_failed = false;  // the stream ended or broke
    int m_width = 0;        // of the negotiated format
    int m_height = 0;
    PixelLayout m_layout;
    Picture m_picture;        // the newest
    uint64_t m_sequence = 0;  // counts the pictures; 0 before the first
    PictureAges m_ages;
};

// One session's view of the stream: its size, its scaler, the last picture it scaled.
class PipeWireSource : public CaptureSource {
  public:
    PipeWireSource(PipeWireStream* stream, const CaptureGeometry& geometry) : m_stream(stream) {
        m_view.width = geometry.width;
        m_view.height = geometry.height;
        m_view.flip = geometry.flip;
    }

    int Grab(uint8_t* bgr) override { return m_stream->ScaleNewest(&m_view, bgr); }

  private:
    PipeWireStream* const m_stream;
    SessionView m_view;
};

PipeWireStream* g_pScreenCastStream = nullptr;

PipeWireStream::~PipeWireStream() {
    if (m_loop != nullptr) {
        pw_thread_loop_stop(m_loop);
    }
    if (m_stream != nullptr) {
        spa_hook_remove(&m_listener);  // its end is ours, not news
        pw_stream_destroy(m_stream);
    }
    if (m_registry != nullptr) {
        spa_hook_remove(&m_registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
    }
    if (m_core != nullptr) {
        pw_core_disconnect(m_core);
    }
    if (m_context != nullptr) {
        pw_context_destroy(m_context);
    }
    if (m_loop != nullptr) {
        pw_thread_loop_destroy(m_loop);
    }
}

bool PipeWireStream::Open() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    m_loop = pw_thread_loop_new("kvcap-pipewire", nullptr);
    m_context =
        m_loop != nullptr ? pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0) : nullptr;
    if (m_context == nullptr) {
        DebugPrint(" kvcap: no PipeWire context\n");
        return false;
    }
    // The remote stays the program's for the sessions after this one.
    int fd = fcntl(m_target.pipewireFd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        DebugPrint(" kvcap: the PipeWire remote is gone\n");
        return false;
    }
    pw_thread_loop_lock(m_loop);
    bool started = pw_thread_loop_start(m_loop) == 0;
    m_core = started ? pw_context_connect_fd(m_context, fd, nullptr, 0) : nullptr;
    if (m_core == nullptr) {
        if (!started) {
            close(fd);
        }
        pw_thread_loop_unlock(m_loop);
        DebugPrint(" kvcap: cannot connect to PipeWire\n");
        return false;
    }
    m_stream = pw_stream_new(m_core, "kvusb projector",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    static const pw_stream_events events = [] {
        pw_stream_events table{};
        table.version = PW_VERSION_STREAM_EVENTS;
        table.state_changed = OnStateChanged;
        table.param_changed = OnParamChanged;
        table.process = OnProcess;
        return table;
    }();
    pw_stream_add_listener(m_stream, &m_listener, &events, this);
    // A stream whose screen's node goes only pauses; the node's removal is the cast's end
    // (the user stopped it, or the portal went).
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events registryEvents = [] {
        pw_registry_events table{};
        table.version = PW_VERSION_REGISTRY_EVENTS;
        table.global_remove = OnGlobalRemoved;
        return table;
    }();
    pw_registry_add_listener(m_registry, &m_registryListener, &registryEvents, this);

    uint8_t bytes[kPodBytes];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    spa_pod_frame object;
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), 0);
    spa_pod_frame choice;
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_id(&builder, kStreamFormats[0].format);  // the preferred one, then all
    for (const StreamFormatLayout& known : kStreamFormats) {
        spa_pod_builder_id(&builder, known.format);
    }
    spa_pod_builder_pop(&builder, &choice);
    if (m_target.width > 0 && m_target.height > 0) {
        spa_rectangle fixed = SPA_RECTANGLE(static_cast<uint32_t>(m_target.width),
                                            static_cast<uint32_t>(m_target.height));
        spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&fixed), 0);
    } else {
        spa_rectangle preferred = SPA_RECTANGLE(kPreferredWidth, kPreferredHeight);
        spa_rectangle smallest = SPA_RECTANGLE(1, 1);
        spa_rectangle largest = SPA_RECTANGLE(kMaxSize, kMaxSize);
        spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_size,
                            SPA_POD_CHOICE_RANGE_Rectangle(&preferred, &smallest, &largest), 0);
    }
    // A compositor's frame rate varies; asked for no more than the session takes.
    spa_fraction none = SPA_FRACTION(0, 1);
    spa_fraction most = SPA_FRACTION(static_cast<uint32_t>(m_fps), 1);
    spa_fraction least = SPA_FRACTION(1, 1);
    spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&none),
                        SPA_FORMAT_VIDEO_maxFramerate,
                        SPA_POD_CHOICE_RANGE_Fraction(&most, &least, &most), 0);
    const spa_pod* format = static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &object));
    int connected = pw_stream_connect(
        m_stream, PW_DIRECTION_INPUT, m_target.node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        &format, 1);
    pw_thread_loop_unlock(m_loop);
    if (connected < 0) {
        DebugPrint(" kvcap: cannot connect to PipeWire node %u\n", m_target.node);
        return false;
    }
    return true;
}

void PipeWireStream::OnStateChanged(void* self, pw_stream_state, pw_stream_state state,
                                    const char* error) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        static_cast<PipeWireStream*>(self)->End(error);
    }
}

void PipeWireStream::OnGlobalRemoved(void* self, uint32_t id) {
    auto* source = static_cast<PipeWireStream*>(self);
    if (id == source->m_target.node) {
        source->End("the screen's node is gone");
    }
}

void PipeWireStream::End(const char* why) {
    DebugPrint(" kvcap: the screen-cast stream ended%s%s\n", why != nullptr ? ": " : "",
               why != nullptr ? why : "");
    m_failed = true;
    const uint64_t ended = 1;
    (void)!write(ScreenCastEndedFd(), &ended, sizeof ended);
}

void PipeWireStream::OnParamChanged(void* self, uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format && param != nullptr) {
        static_cast<PipeWireStream*>(self)->NegotiateBuffers(param);
    }
}

// The format the compositor settled on, and what the buffers must carry: pictures in memory
// we can map, a header, the damage, and the crop.
void PipeWireStream::NegotiateBuffers(const spa_pod* format) {
    StreamFormat read;
    if (!ReadStreamFormat(format, kMaxSize, &read)) {
        DebugPrint(" kvcap: the screen-cast stream's format cannot be read\n");
        pw_stream_set_error(m_stream, -EINVAL, "unknown format");
        return;
    }
    const bool renegotiated = m_width != 0;
    m_width = read.width;
    m_height = read.height;
    m_layout = read.layout;
    DebugPrint(" kvcap: screen-cast stream of %dx%d\n", m_width, m_height);

    uint8_t bytes[kPodBytes];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(bytes, sizeof bytes);
    const spa_pod* params[4];
    params[0] = static_cast<spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) |
                                 (1 << SPA_DATA_DmaBuf))));
    params[1] = static_cast<spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(sizeof(spa_meta_region) * kMaxDamageRegions,
                                 sizeof(spa_meta_region),
                                 sizeof(spa_meta_region) * kMaxDamageRegions)));
    params[3] = static_cast<spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    pw_stream_update_params(m_stream, params, 4);
    if (renegotiated) {
        // kwin 5.27 stops sending once it renegotiates a window's new size, and starts again
        // only when its stream's state changes: pausing and resuming ours changes it.
        pw_stream_set_active(m_stream, false);
        pw_stream_set_active(m_stream, true);
    }
}

void PipeWireStream::OnProcess(void* self) {
    static_cast<PipeWireStream*>(self)->TakeBuffers();
}

// Keeps the newest buffer that shows a change and gives back every other at once, so the
// compositor always has buffers to fill.
void PipeWireStream::TakeBuffers() {
    pw_buffer* newest = nullptr;
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(m_stream)) {
        // The first picture is taken whatever its damage says: there is none to keep.
        bool wanted = BufferHoldsPicture(buffer->buffer) &&
                      (m_sequence == 0 || BufferShowsChange(buffer->buffer));
        if (!wanted) {
            pw_stream_queue_buffer(m_stream, buffer);
            continue;
        }
        if (newest != nullptr) {
            pw_stream_queue_buffer(m_stream, newest);
        }
        newest = buffer;
    }
    if (newest == nullptr) {
        return;
    }
    const PixelRect crop = PictureCrop(newest->buffer, m_width, m_height);
    if (CopyPicture(newest->buffer->datas[0], m_width, m_height, crop, &m_picture.pixels)) {
        m_picture.width = crop.width;
        m_picture.height = crop.height;
        m_picture.cropped = crop.width != m_width || crop.height != m_height;
        m_picture.layout = m_layout;
        auto* header = static_cast<const spa_meta_header*>(
            spa_buffer_find_meta_data(newest->buffer, SPA_META_Header, sizeof(spa_meta_header)));
        m_picture.shownAt = header != nullptr ? header->pts : 0;
        ++m_sequence;
    }  // else a buffer that does not hold the picture it says: left out
    pw_stream_queue_buffer(m_stream, newest);
}

void PipeWireStream::CountAge() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t ageNs = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec - m_picture.shownAt;
    if (m_picture.shownAt <= 0 || ageNs < 0) {
        return;  // a compositor that keeps another clock, or none
    }
    double ageMs = static_cast<double>(ageNs) / 1e6;
    m_ages.sumMs += ageMs;
    m_ages.mostMs = std::max(m_ages.mostMs, ageMs);
    if (++m_ages.count == kAgeWindow) {
        DebugPrint(
            " kvcap: %u pictures scaled %.1f ms after the compositor's frame on average, "
            "%.1f ms at most\n",
            m_ages.count, m_ages.sumMs / m_ages.count, m_ages.mostMs);
        m_ages = {};
    }
}

int PipeWireStream::ScaleNewest(SessionView* view, uint8_t* bgr) {
    pw_thread_loop_lock(m_loop);
    int result = kGrabUnchanged;  // no new picture since the last one scaled
    if (m_failed || m_sequence == 0) {
        result = KVCAP_E_CAPTURE_FAILED;  // broken, or nothing came yet
    } else if (view->seen != m_sequence) {
        const size_t stride = static_cast<size_t>(m_picture.width) * 4;
        bool scaled = false;
        if (m_target.window || m_picture.cropped) {
            // A window's stream, or its crop, changes size with the window.
            if (view->windowFit == nullptr) {
                view->windowFit =
                    std::make_unique<WindowScaler>(view->width, view->height, view->flip);
            }
            scaled = view->windowFit->ScaleFromDesktop(
                m_picture.data(), m_picture.width, m_picture.height, stride, m_picture.layout,
                {0, 0, m_picture.width, m_picture.height}, bgr);
        } else {
            if (view->scaler == nullptr || view->sourceWidth != m_picture.width ||
                view->sourceHeight != m_picture.height) {
                view->scaler = std::make_unique<AreaScaler>(m_picture.width, m_picture.height,
                                                            view->width, view->height);
                view->scaler->SetFlip(view->flip);
                view->sourceWidth = m_picture.width;
                view->sourceHeight = m_picture.height;
            }
            scaled = view->scaler->Ready();
            if (scaled) {
                view->scaler->Scale(m_picture.data(), stride, m_picture.layout, bgr);
            }
        }
        if (scaled) {
            view->seen = m_sequence;
            CountAge();
            result = KVCAP_OK;
        } else {
            result = KVCAP_E_CAPTURE_FAILED;
        }
    }
    pw_thread_loop_unlock(m_loop);
    return result;
}

}  // namespace

int ScreenCastEndedFd() {
    static const int ended = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return ended;
}

std::unique_ptr<CaptureSource> OpenPipeWireSource(const DesktopTarget& target,
                                                  const CaptureGeometry& geometry) {
    if (g_pScreenCastStream == nullptr || !g_pScreenCastStream->Serves(target)) {
        // One target a process; a stream of another one (tests) is let go.
        delete g_pScreenCastStream;
        g_pScreenCastStream = new PipeWireStream(target, geometry.fps);
        if (!g_pScreenCastStream->Open()) {
            delete g_pScreenCastStream;
            g_pScreenCastStream = nullptr;
            return nullptr;
        }
    }
    auto source = std::make_unique<PipeWireSource>(g_pScreenCastStream, geometry);
    DebugPrint(" kvcap: %dx%d from the screen-cast stream, node %u\n", geometry.width,
               geometry.height, target.node);
    return source;
}
