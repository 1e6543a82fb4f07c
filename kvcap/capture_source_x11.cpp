#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image/area_scaler.h"
#include "image/window_fit.h"
#include "kvcap/capture_source_x11.h"
#include "kvcap/kvcap_api.h"
#include "platform/debug_print.h"
#include "platform/x11_display_linux.h"

// The X11 desktop: the primary monitor's part of the root window (or a named monitor's), read
// through shared memory (MIT-SHM) where the server can share it with us, else with XGetImage (a
// remote display, a server without the extension); scaled by area averaging, the cursor blended in
// when asked. The screen is read in bands of rows, each scaled before the next is read, so that
// a large screen is never held whole. A change of the screen's configuration is seen in the events
// of the source's own connection and the picture is set up again for the new area before the next
// frame. The X server also reports there where the screen was drawn on (XDamage): while nothing
// was, and the cursor has neither moved nor changed, the last frame is delivered again without
// reading the screen.
//
// One window instead (KVCapSetWindow): its own pixels, kept by the server for us through
// XComposite even where other windows cover it, read from the pixmap that holds them and fitted
// to the frame between black bars. A move changes nothing there; a resize names the new pixmap
// before the next frame; while the window is unmapped (minimised) no frame comes, so the wall
// keeps the last; once it is destroyed every frame says so.

namespace {

constexpr int kPixelBits = 32;
// The most one band holds: a quarter of a 1920 x 1080 screen.
constexpr size_t kBandBytes = 2 * 1024 * 1024;
constexpr int kChannelBits = 8;
constexpr unsigned long kChannelMask = 0xFF;

const char* DisplayNameForUser() {
    const char* name = std::getenv("DISPLAY");
    return name != nullptr && name[0] != '\0' ? name : "(DISPLAY is not set)";
}

// Where a colour's byte lies in a 32-bit pixel, or -1 when its mask is not one whole byte.
int ChannelOffset(unsigned long mask, int byteOrder) {
    for (int shift = 0; shift < kPixelBits; shift += kChannelBits) {
        if (mask == kChannelMask << shift) {
            int lowFirst = shift / kChannelBits;
            return byteOrder == LSBFirst ? lowFirst : 3 - lowFirst;
        }
    }
    return -1;
}

// The named monitor's area, empty when there is no such monitor; without a name the primary's.
MonitorArea TargetArea(Display* display, const std::string& monitorName) {
    if (monitorName.empty()) {
        return PrimaryMonitorArea(display);
    }
    MonitorArea area;
    NamedMonitorArea(display, monitorName.c_str(), &area);
    return area;
}

class X11Source : public CaptureSource {
  public:
    X11Source(Display* display, std::string monitorName, const CaptureGeometry& geometry)
        : m_display(display),
          m_root(DefaultRootWindow(display)),
          m_window(static_cast<Window>(geometry.window)),
          m_monitorName(std::move(monitorName)),
          m_geometry(geometry),
          m_drawable(m_root),
          m_visual(DefaultVisual(display, DefaultScreen(display))),
          m_depth(DefaultDepth(display, DefaultScreen(display))) {}
    ~X11Source() override;

    bool Open();
    int Grab(uint8_t* bgr) override;
    bool SharesMemory() const { return m_shared; }

  private:
    // Where the cursor is and which image it has.
    struct CursorState {
        int x = 0;
        int y = 0;
        unsigned long serial = 0;
        bool operator==(const CursorState&) const = default;
    };

    bool OpenWindow();
    bool SetUpArea(const MonitorArea& area);
    // The window's pixmap named afresh, and its area; empty while the window is unmapped,
    // m_gone set once it is destroyed.
    MonitorArea NameWindowPixmap();
    void ReleaseWindowPixmap();
    // Where the window's pixmap begins on the root window, for the cursor.
    void FindWindowOrigin();
    AreaScaler& Scaler() { return m_window != 0 ? m_windowFit->Scaler() : *m_scaler; }
    bool CreateSharedImage();
    bool CreatePlainImage();
    void ReleaseImage();
    // Reads the band of rows from `top` (counted from the area's top) into m_image.
    bool ReadBand(int top);
    void DrawCursor(const XFixesCursorImage& cursor, int bandTop);
    // Reads and scales the whole area band by band; false when a read failed.
    bool ReadAndScale(const XFixesCursorImage* cursor, uint8_t* bgr);
    // Reads the events that have come: true when the screen's configuration (or the window's)
    // changed; notes damage in m_damaged and the window's end in m_gone.
    bool TakeEvents();

    Display* const m_display;
    const Window m_root;
    const Window m_window;            // 0: the monitor
    const std::string m_monitorName;  // empty: the primary monitor
    const CaptureGeometry m_geometry;
    Drawable m_drawable;  // what is read: the root, or the window's pixmap
    Pixmap m_pixmap = 0;  // the window's, while named
    Visual* m_visual;     // of what is read
    int m_depth;
    int m_border = 0;     // the window's, which its pixmap holds
    bool m_gone = false;  // the window was destroyed
    MonitorArea m_area;   // in m_drawable
    int m_originX = 0;    // m_area's top-left on the root
    int m_originY = 0;
    int m_bandRows = 0;
    XImage* m_image = nullptr;  // one band
    XShmSegmentInfo m_segment{};
    bool m_shared = false;    // the image lies in a segment the server writes into
    bool m_tryShared = true;  // false once sharing failed: the server cannot reach our memory
    bool m_hasCursorImage = false;
    int m_damageEventBase = -1;  // -1 without XDamage: every frame is read
    Damage m_damage = 0;
    bool m_damaged = true;  // the screen may differ from the last frame delivered
    CursorState m_cursor;   // as drawn into the last frame
    PixelLayout m_layout;
    std::unique_ptr<AreaScaler> m_scaler;       // the monitor's
    std::unique_ptr<WindowScaler> m_windowFit;  // the window's
};

X11Source::~X11Source() {
    ReleaseImage();
    ReleaseWindowPixmap();
    if (m_damage != 0) {
        XDamageDestroy(m_display, m_damage);
    }
    XCloseDisplay(m_display);
}

bool X11Source::Open() {
    int eventBase = 0;
    int errorBase = 0;
    m_tryShared = XShmQueryExtension(m_display);
    int major = 0;
    int minor = 0;
    m_hasCursorImage = m_geometry.drawCursor &&
                       XFixesQueryExtension(m_display, &eventBase, &errorBase) &&
                       XFixesQueryVersion(m_display, &major, &minor);
    if (m_window != 0) {
        return OpenWindow();
    }
    if (HasRandrMonitors(m_display)) {
        XRRSelectInput(m_display, m_root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask);
    }
    XSelectInput(m_display, m_root, StructureNotifyMask);
    if (XDamageQueryExtension(m_display, &eventBase, &errorBase) &&
        XDamageQueryVersion(m_display, &major, &minor)) {
        m_damageEventBase = eventBase;
        m_damage = XDamageCreate(m_display, m_root, XDamageReportNonEmpty);
    }
    return SetUpArea(TargetArea(m_display, m_monitorName));
}

// A window that is gone already opens all the same: its first frame says so.
bool X11Source::OpenWindow() {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 2;  // naming a window's pixmap came with 0.2
    if (!XCompositeQueryExtension(m_display, &eventBase, &errorBase) ||
        !XCompositeQueryVersion(m_display, &major, &minor) || (major == 0 && minor < 2)) {
        DebugPrint(" kvcap: the X server has no Composite extension to read a window by\n");
        return false;
    }
    m_windowFit =
        std::make_unique<WindowScaler>(m_geometry.width, m_geometry.height, m_geometry.flip);
    TakeX11Error();
    // Automatic: the server still draws it on the screen as before, and lets it go when our
    // connection closes.
    XCompositeRedirectWindow(m_display, m_window, CompositeRedirectAutomatic);
    XSelectInput(m_display, m_window, StructureNotifyMask);
    if (XDamageQueryExtension(m_display, &eventBase, &errorBase) &&
        XDamageQueryVersion(m_display, &major, &minor)) {
        m_damageEventBase = eventBase;
        m_damage = XDamageCreate(m_display, m_window, XDamageReportNonEmpty);
    }
    XSync(m_display, False);
    m_gone = TakeX11Error() != 0;
    return true;
}

MonitorArea X11Source::NameWindowPixmap() {
    ReleaseWindowPixmap();
    XWindowAttributes attributes;
    TakeX11Error();
    if (XGetWindowAttributes(m_display, m_window, &attributes) == 0) {
        m_gone = true;
        return {};
    }
    if (attributes.map_state != IsViewable) {
        return {};
    }
    m_pixmap = XCompositeNameWindowPixmap(m_display, m_window);
    XSync(m_display, False);
    if (TakeX11Error() != 0) {
        m_pixmap = 0;  // unmapped again meanwhile
        return {};
    }
    m_drawable = m_pixmap;
    m_visual = attributes.visual;
    m_depth = attributes.depth;
    m_border = attributes.border_width;
    return {0, 0, attributes.width + 2 * m_border, attributes.height + 2 * m_border};
}

void X11Source::ReleaseWindowPixmap() {
    if (m_pixmap != 0) {
        XFreePixmap(m_display, m_pixmap);
        m_pixmap = 0;
    }
}

void X11Source::FindWindowOrigin() {
    Window child = 0;
    if (!XTranslateCoordinates(m_display, m_window, m_root, -m_border, -m_border, &m_originX,
                               &m_originY, &child)) {
        m_originX = m_originY = 0;
    }
}

bool X11Source::SetUpArea(const MonitorArea& area) {
    ReleaseImage();
    m_area = area;
    if (area.width < 1 || area.height < 1) {
        // The named monitor was taken away, as the program's own is when it ends: nothing to
        // read until it is back. A window unmapped: until it is mapped again.
        if (m_window == 0) {
            DebugPrint(" kvcap: the X screen has no monitor %s\n", m_monitorName.c_str());
        }
        return false;
    }
    bool ready = false;
    if (m_window != 0) {
        ready = m_windowFit->Place(area.width, area.height, {0, 0, area.width, area.height});
    } else {
        m_scaler = std::make_unique<AreaScaler>(area.width, area.height, m_geometry.width,
                                                m_geometry.height);
        m_scaler->SetFlip(m_geometry.flip);
        ready = m_scaler->Ready();
    }
    if (!ready) {
        DebugPrint(" kvcap: the %dx%d screen is too large to scale\n", area.width, area.height);
        return false;
    }
    m_originX = area.x;
    m_originY = area.y;
    int bandRows = static_cast<int>(kBandBytes / (static_cast<size_t>(area.width) * 4));
    m_bandRows = std::min(area.height, std::max(bandRows, Scaler().SourceRowsPerOutputRow()));
    bool created = (m_tryShared && CreateSharedImage()) || CreatePlainImage();
    if (!created) {
        DebugPrint(" kvcap: cannot make a %dx%d X image\n", area.width, m_bandRows);
        return false;
    }
    m_layout = {ChannelOffset(m_visual->blue_mask, m_image->byte_order),
                ChannelOffset(m_visual->green_mask, m_image->byte_order),
                ChannelOffset(m_visual->red_mask, m_image->byte_order)};
    if (m_image->bits_per_pixel != kPixelBits || m_layout.blue < 0 || m_layout.green < 0 ||
        m_layout.red < 0) {
        DebugPrint(" kvcap: X screens of %d bits per pixel are not supported\n",
                   m_image->bits_per_pixel);
        return false;
    }
    return true;
}

bool X11Source::CreateSharedImage() {
    m_image = XShmCreateImage(m_display, m_visual, m_depth, ZPixmap, nullptr, &m_segment,
                              m_area.width, m_bandRows);
    if (m_image == nullptr) {
        return false;
    }
    m_segment.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(m_image->bytes_per_line) * m_image->height,
               IPC_CREAT | 0600);
    void* address = m_segment.shmid >= 0 ? shmat(m_segment.shmid, nullptr, 0) : nullptr;
    if (address == reinterpret_cast<void*>(-1)) {
        address = nullptr;
    }
    bool attached = false;
    if (address != nullptr) {
        m_segment.shmaddr = m_image->data = static_cast<char*>(address);
        m_segment.readOnly = False;
        TakeX11Error();
        attached = XShmAttach(m_display, &m_segment);
        XSync(m_display, False);  // a server that cannot reach the segment answers with an error
        attached = attached && TakeX11Error() == 0;
    }
    if (m_segment.shmid >= 0) {
        // Freed once both sides have let go of it, even if we end abnormally.
        shmctl(m_segment.shmid, IPC_RMID, nullptr);
    }
    if (!attached) {
        DebugPrint(" kvcap: the X server cannot share memory with us, using XGetImage\n");
        m_tryShared = false;
        if (address != nullptr) {
            shmdt(address);
        }
        m_image->data = nullptr;
        XDestroyImage(m_image);
        m_image = nullptr;
        return false;
    }
    m_shared = true;
    return true;
}

bool X11Source::CreatePlainImage() {
    m_image = XCreateImage(m_display, m_visual, m_depth, ZPixmap, 0, nullptr, m_area.width,
                           m_bandRows, kPixelBits, 0);
    if (m_image == nullptr) {
        return false;
    }
    // XDestroyImage frees it with free().
    m_image->data =
        static_cast<char*>(std::malloc(static_cast<size_t>(m_image->bytes_per_line) * m_bandRows));
    if (m_image->data == nullptr) {
        XDestroyImage(m_image);
        m_image = nullptr;
        return false;
    }
    m_shared = false;
    return true;
}

void X11Source::ReleaseImage() {
    if (m_image == nullptr) {
        return;
    }
    if (m_shared) {
        XShmDetach(m_display, &m_segment);
        XSync(m_display, False);
        shmdt(m_segment.shmaddr);
        m_image->data = nullptr;
    }
    XDestroyImage(m_image);
    m_image = nullptr;
    m_shared = false;
}

bool X11Source::ReadBand(int top) {
    TakeX11Error();
    if (m_shared) {
        return XShmGetImage(m_display, m_drawable, m_image, m_area.x, m_area.y + top, AllPlanes) &&
               TakeX11Error() == 0;
    }
    return XGetSubImage(m_display, m_drawable, m_area.x, m_area.y + top, m_area.width, m_bandRows,
                        AllPlanes, ZPixmap, m_image, 0, 0) != nullptr &&
           TakeX11Error() == 0;
}

// Each band starts at the source row the next output row needs; the last one is moved up to
// end at the area's bottom. A window goes to its place between the bars.
bool X11Source::ReadAndScale(const XFixesCursorImage* cursor, uint8_t* bgr) {
    AreaScaler& scaler = Scaler();
    int rows = m_geometry.height;
    if (m_window != 0) {
        m_windowFit->PaintBars(bgr);
        bgr = m_windowFit->PlacedOrigin(bgr);
        rows = m_windowFit->Fit().placed.height;
    }
    for (int row = 0; row < rows;) {
        int top = std::min(scaler.FirstSourceRow(row), m_area.height - m_bandRows);
        if (!ReadBand(top)) {
            return false;
        }
        if (cursor != nullptr) {
            DrawCursor(*cursor, top);
        }
        row =
            scaler.ScaleBand(row, reinterpret_cast<const uint8_t*>(m_image->data), top, m_bandRows,
                             static_cast<size_t>(m_image->bytes_per_line), m_layout, bgr);
    }
    return true;
}

// Blends the cursor, whose image has its colours multiplied by alpha already, over the
// captured pixels of the band from row `bandTop` at full size, so that it is scaled with the
// rest.
void X11Source::DrawCursor(const XFixesCursorImage& cursor, int bandTop) {
    int left = cursor.x - cursor.xhot - m_originX;
    int top = cursor.y - cursor.yhot - m_originY - bandTop;
    const int offsets[3] = {m_layout.blue, m_layout.green, m_layout.red};
    for (int y = std::max(0, -top); y < cursor.height && top + y < m_bandRows; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(m_image->data) +
                    static_cast<size_t>(top + y) * m_image->bytes_per_line;
        for (int x = std::max(0, -left); x < cursor.width && left + x < m_area.width; ++x) {
            // XFixes hands each 32-bit ARGB pixel in an unsigned long.
            auto argb = static_cast<uint32_t>(cursor.pixels[y * cursor.width + x]);
            uint32_t alpha = argb >> 24;
            uint8_t* pixel = row + static_cast<size_t>(left + x) * 4;
            for (int c = 0; c < 3; ++c) {
                uint32_t colour = (argb >> (8 * c)) & kChannelMask;  // blue, green, red
                uint32_t under = pixel[offsets[c]] * (255 - alpha);
                pixel[offsets[c]] =
                    static_cast<uint8_t>(std::min<uint32_t>(255, colour + (under + 127) / 255));
            }
        }
    }
}

bool X11Source::TakeEvents() {
    bool reconfigured = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (m_damageEventBase >= 0 && event.type == m_damageEventBase + XDamageNotify) {
            m_damaged = true;
        } else if (m_window != 0) {
            // The window's own: moved (nothing to do, but cheap to take as a change), resized,
            // mapped, unmapped or destroyed.
            m_gone = m_gone || event.type == DestroyNotify;
            reconfigured = true;
        } else {
            XRRUpdateConfiguration(&event);
            reconfigured = true;  // the other events asked for are the configuration's
        }
    }
    return reconfigured;
}

int X11Source::Grab(uint8_t* bgr) {
    bool reconfigured = TakeEvents();
    if (m_gone) {
        return KVCAP_E_WINDOW_GONE;
    }
    if (reconfigured || m_image == nullptr) {
        MonitorArea area =
            m_window != 0 ? NameWindowPixmap() : TargetArea(m_display, m_monitorName);
        if (m_gone) {
            return KVCAP_E_WINDOW_GONE;
        }
        bool same = m_image != nullptr && area.x == m_area.x && area.y == m_area.y &&
                    area.width == m_area.width && area.height == m_area.height;
        if (!same && !SetUpArea(area)) {
            ReleaseImage();
            return KVCAP_E_CAPTURE_FAILED;
        }
        m_damaged = true;
    }
    XFixesCursorImage* cursor = m_hasCursorImage ? XFixesGetCursorImage(m_display) : nullptr;
    CursorState cursorState;
    if (cursor != nullptr) {
        if (m_window != 0) {
            FindWindowOrigin();  // the window may have moved under a still cursor
        }
        cursorState = {cursor->x - m_originX, cursor->y - m_originY, cursor->cursor_serial};
    }
    int result = kGrabUnchanged;
    if (m_damaged || m_damage == 0 || !(cursorState == m_cursor)) {
        // Drawing from here on is reported again and read with the next frame.
        if (m_damage != 0) {
            XDamageSubtract(m_display, m_damage, None, None);
        }
        if (ReadAndScale(cursor, bgr)) {
            m_damaged = false;
            m_cursor = cursorState;
            result = KVCAP_OK;
        } else {
            // Most likely the screen changed before its events came: set up again next time.
            ReleaseImage();
            result = KVCAP_E_CAPTURE_FAILED;
        }
    }
    if (cursor != nullptr) {
        XFree(cursor);
    }
    return result;
}

Display* OpenDisplay() {
    TrapX11Errors();
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        DebugPrint(" kvcap: cannot open the X display %s\n", DisplayNameForUser());
    }
    return display;
}

}  // namespace

ScreenSize X11ScreenSize(const std::string& monitorName) {
    Display* display = OpenDisplay();
    if (display == nullptr) {
        return {};
    }
    MonitorArea area = TargetArea(display, monitorName);
    ScreenSize size = {area.width, area.height, DefaultDepth(display, DefaultScreen(display))};
    XCloseDisplay(display);
    return size;
}

std::unique_ptr<CaptureSource> OpenX11Source(const std::string& monitorName,
                                             const CaptureGeometry& geometry) {
    Display* display = OpenDisplay();
    if (display == nullptr) {
        return nullptr;
    }
    auto source = std::make_unique<X11Source>(display, monitorName, geometry);
    if (!source->Open()) {
        return nullptr;
    }
    DebugPrint(" kvcap: %dx%d from X11 %s\n", geometry.width, geometry.height,
               source->SharesMemory() ? "shared memory" : "XGetImage");
    return source;
}
