#include <windows.h>

#include <cstring>

#include "image/image_flip.h"
#include "image/window_fit.h"
#include "kvcap/capture_source.h"
#include "kvcap/desktop_cursor_win32.h"
#include "kvcap/desktop_duplication_win32.h"
#include "kvcap/kvcap_api.h"
#include "kvcap/window_bounds_win32.h"
#include "platform/debug_print.h"

// The Windows desktop: desktop duplication where the system offers it, otherwise GDI
// (remote sessions, older systems, Wine). The choice is made once, when a session opens.

namespace {

RECT PrimaryScreen() {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// A top-down DIB section selected into a memory device context.
struct DibSection {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;

    DibSection() = default;
    DibSection(const DibSection&) = delete;
    DibSection& operator=(const DibSection&) = delete;
    ~DibSection() { Release(); }

    void Release() {
        if (previous != nullptr) {
            SelectObject(dc, previous);
        }
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        if (dc != nullptr) {
            DeleteDC(dc);
        }
        dc = nullptr;
        bitmap = nullptr;
        previous = nullptr;
        bits = nullptr;
        width = 0;
        height = 0;
    }
    bool Make(int newWidth, int newHeight, WORD bitsPerPixel) {
        Release();
        dc = CreateCompatibleDC(nullptr);
        if (dc == nullptr) {
            return false;
        }
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = newWidth;
        info.bmiHeader.biHeight = -newHeight;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = bitsPerPixel;
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        if (bitmap == nullptr) {
            return false;
        }
        bits = static_cast<uint8_t*>(pixels);
        previous = SelectObject(dc, bitmap);
        width = newWidth;
        height = newHeight;
        return true;
    }
};

// GDI: the screen stretched with HALFTONE into a 24-bit top-down DIB section, whose rows are
// then packed (a DIB row is padded to 4 bytes). One window is copied from the screen as it is
// and fitted by the window scaler.
class GdiSource : public CaptureSource {
  public:
    explicit GdiSource(const CaptureGeometry& geometry)
        : m_geometry(geometry), m_windowFit(geometry.width, geometry.height, geometry.flip) {}

    bool Open();
    int Grab(uint8_t* bgr) override;

  private:
    int GrabWindow(uint8_t* bgr);

    CaptureGeometry m_geometry;
    DibSection m_frame;
    WindowScaler m_windowFit;
    DibSection m_cut;  // the window's part on the screen, 32 bits a pixel
};

bool GdiSource::Open() {
    if (!m_frame.Make(m_geometry.width, m_geometry.height, 24)) {
        return false;
    }
    SetStretchBltMode(m_frame.dc, HALFTONE);
    SetBrushOrgEx(m_frame.dc, 0, 0, nullptr);  // HALFTONE needs it set after the mode
    return true;
}

int GdiSource::GrabWindow(uint8_t* bgr) {
    const std::optional<PixelRect> bounds = WindowBoundsOnDesktop(m_geometry.window);
    if (!bounds) {
        return KVCAP_E_WINDOW_GONE;
    }
    const RECT screen = PrimaryScreen();
    if (!m_windowFit.Place(screen.right, screen.bottom, *bounds)) {
        m_windowFit.PaintBars(bgr);  // nothing of it on the screen: minimised, or moved off
        return KVCAP_OK;
    }
    const PixelRect& cut = m_windowFit.Fit().cut;
    if ((m_cut.width != cut.width || m_cut.height != cut.height) &&
        !m_cut.Make(cut.width, cut.height, 32)) {
        m_cut.Release();
        return KVCAP_E_CAPTURE_FAILED;
    }
    HDC screenDc = GetDC(nullptr);
    if (screenDc == nullptr) {
        return KVCAP_E_CAPTURE_FAILED;
    }
    // What covers the window is copied with it, as the wall would show the desktop.
    const BOOL copied =
        BitBlt(m_cut.dc, 0, 0, cut.width, cut.height, screenDc, cut.x, cut.y, SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screenDc);
    if (!copied) {
        return KVCAP_E_CAPTURE_FAILED;
    }
    if (m_geometry.drawCursor) {
        DrawCursorScaled(m_cut.dc, {cut.x, cut.y, cut.x + cut.width, cut.y + cut.height}, cut.width,
                         cut.height);
    }
    GdiFlush();
    m_windowFit.Scale(m_cut.bits, static_cast<size_t>(cut.width) * 4, PixelLayout{}, bgr);
    return KVCAP_OK;
}

int GdiSource::Grab(uint8_t* bgr) {
    if (m_geometry.window != 0) {
        return GrabWindow(bgr);
    }
    // The screen's size is read for every frame: a display change may come before the
    // session is reopened for it.
    RECT screen = PrimaryScreen();
    HDC screenDc = GetDC(nullptr);
    if (screenDc == nullptr) {
        return KVCAP_E_CAPTURE_FAILED;
    }
    BOOL copied = StretchBlt(m_frame.dc, 0, 0, m_geometry.width, m_geometry.height, screenDc, 0, 0,
                             screen.right, screen.bottom, SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screenDc);
    if (!copied) {
        return KVCAP_E_CAPTURE_FAILED;
    }
    if (m_geometry.drawCursor) {
        DrawCursorScaled(m_frame.dc, screen, m_geometry.width, m_geometry.height);
    }
    GdiFlush();
    size_t rowBytes = static_cast<size_t>(m_geometry.width) * 3;
    size_t stride = (rowBytes + 3) & ~size_t{3};
    for (int y = 0; y < m_geometry.height; ++y) {
        std::memcpy(bgr + y * rowBytes, m_frame.bits + y * stride, rowBytes);
    }
    // GDI takes tens of milliseconds a frame; a pass more to mirror it is lost in that.
    FlipPicture(bgr, m_geometry.width, m_geometry.height, m_geometry.flip);
    return KVCAP_OK;
}

std::unique_ptr<CaptureSource> OpenGdiSource(const CaptureGeometry& geometry) {
    auto source = std::make_unique<GdiSource>(geometry);
    if (!source->Open()) {
        DebugPrint(" kvcap: GDI capture fail, error = %lu\n", GetLastError());
        return nullptr;
    }
    return source;
}

}  // namespace

bool DesktopSourceAvailable(CaptureSourceKind) {
    return true;
}

ScreenSize DesktopScreenSize() {
    RECT screen = PrimaryScreen();
    int bitsPerPixel = 0;
    if (HDC screenDc = GetDC(nullptr)) {
        bitsPerPixel = GetDeviceCaps(screenDc, BITSPIXEL);
        ReleaseDC(nullptr, screenDc);
    }
    return {screen.right, screen.bottom, bitsPerPixel};
}

std::unique_ptr<CaptureSource> OpenDesktopSource(const CaptureSourceChoice& choice,
                                                 const CaptureGeometry& geometry) {
    if (choice.kind == CaptureSourceKind::Desktop) {
        if (std::unique_ptr<CaptureSource> duplication = OpenDuplicationSource(geometry)) {
            DebugPrint(" kvcap: %dx%d from desktop duplication\n", geometry.width, geometry.height);
            return duplication;
        }
        DebugPrint(" kvcap: desktop duplication unavailable, falling back to GDI\n");
    }
    std::unique_ptr<CaptureSource> gdi = OpenGdiSource(geometry);
    if (gdi) {
        DebugPrint(" kvcap: %dx%d from GDI\n", geometry.width, geometry.height);
    }
    return gdi;
}
