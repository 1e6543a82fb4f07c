// Preloaded into the portal's wlroots backend in the tests. Its version 0.7 starts a screen
// cast only when the compositor offers each frame as DMA-BUF too (the linux_dmabuf event of a
// screen copy), and a headless sway that renders in software has no DMA-BUF to offer. Told
// of a DMA-BUF format the size of the shared-memory one, the backend goes on; with no GPU to
// allocate DMA-BUFs and a consumer that asks for none, it then copies into shared memory.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <string.h>

struct wl_proxy;
const char* wl_proxy_get_class(struct wl_proxy* proxy);

// zwlr_screencopy_frame_v1's events, version 3.
struct frame_listener {
    void (*buffer)(void* data, void* frame, uint32_t format, uint32_t width, uint32_t height,
                   uint32_t stride);
    void (*flags)(void* data, void* frame, uint32_t flags);
    void (*ready)(void* data, void* frame, uint32_t sec_hi, uint32_t sec_lo, uint32_t nsec);
    void (*failed)(void* data, void* frame);
    void (*damage)(void* data, void* frame, uint32_t x, uint32_t y, uint32_t width,
                   uint32_t height);
    void (*linux_dmabuf)(void* data, void* frame, uint32_t format, uint32_t width, uint32_t height);
    void (*buffer_done)(void* data, void* frame);
};

enum { SHM_ARGB8888 = 0, SHM_XRGB8888 = 1, DRM_ARGB8888 = 0x34325241, DRM_XRGB8888 = 0x34325258 };

static const struct frame_listener* g_real;
static uint32_t g_format;
static uint32_t g_width;
static uint32_t g_height;
static bool g_dmabufOffered;

static void Buffer(void* data, void* frame, uint32_t format, uint32_t width, uint32_t height,
                   uint32_t stride) {
    g_format = format == SHM_ARGB8888   ? DRM_ARGB8888
               : format == SHM_XRGB8888 ? DRM_XRGB8888
                                        : format;
    g_width = width;
    g_height = height;
    g_dmabufOffered = false;
    g_real->buffer(data, frame, format, width, height, stride);
}
static void Flags(void* data, void* frame, uint32_t flags) {
    g_real->flags(data, frame, flags);
}
static void Ready(void* data, void* frame, uint32_t sec_hi, uint32_t sec_lo, uint32_t nsec) {
    g_real->ready(data, frame, sec_hi, sec_lo, nsec);
}
static void Failed(void* data, void* frame) {
    g_real->failed(data, frame);
}
static void Damage(void* data, void* frame, uint32_t x, uint32_t y, uint32_t width,
                   uint32_t height) {
    g_real->damage(data, frame, x, y, width, height);
}
static void LinuxDmabuf(void* data, void* frame, uint32_t format, uint32_t width, uint32_t height) {
    g_dmabufOffered = true;
    g_real->linux_dmabuf(data, frame, format, width, height);
}
static void BufferDone(void* data, void* frame) {
    if (!g_dmabufOffered) {
        g_real->linux_dmabuf(data, frame, g_format, g_width, g_height);
    }
    g_real->buffer_done(data, frame);
}

static const struct frame_listener g_shim = {Buffer, Flags,       Ready,     Failed,
                                             Damage, LinuxDmabuf, BufferDone};

int wl_proxy_add_listener(struct wl_proxy* proxy, void (**implementation)(void), void* data) {
    static int (*next)(struct wl_proxy*, void (**)(void), void*);
    if (next == NULL) {
        next = (int (*)(struct wl_proxy*, void (**)(void), void*))dlsym(RTLD_NEXT,
                                                                        "wl_proxy_add_listener");
    }
    if (strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") == 0) {
        g_real = (const struct frame_listener*)implementation;
        implementation = (void (**)(void)) & g_shim;
    }
    return next(proxy, implementation, data);
}
