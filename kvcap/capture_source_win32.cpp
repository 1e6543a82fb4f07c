#include <windows.h>

#include <cstring>

#include "image/image_flip.h"
#include "kvcap/capture_source.h"
#include "kvcap/desktop_cursor_win32.h"
#include "kvcap/desktop_duplication_win32.h"
#include "kvcap/kvcap_api.h"
#include "platform/debug_print.h"

// The Windows desktop: desktop duplication where the system offers it, otherwise GDI
// (remote sessions, older systems, Wine). The choice is made once, when a session opens.

namespace {

RECT PrimaryScreen() {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// GDI: the screen stretched with HALFTONE into a 24-bit top-down DIB section, whose rows are
// then packed (a DIB row is padded to 4 bytes).
class GdiSource : public CaptureSource {
  public:
    explicit GdiSource(const CaptureGeometry& geometry) : m_geometry(geometry) {}
    ~GdiSource() override;

    bool Open();
    int Grab(uint8_t* bgr) override;

  private:
    CaptureGeometry m_geometry;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previousBitmap = nullptr;
    uint8_t* m_bits = nullptr;
};

GdiSource::~GdiSource() {
    if (m_previousBitmap != nullptr) {
        SelectObject(m_dc, m_previousBitmap);
    }
    if (m_bitmap != nullptr) {
        DeleteObject(m_bitmap);
    }
    if (m_dc != nullptr) {
        DeleteDC(m_dc);
    }
}

bool GdiSource::Open() {
    m_dc = CreateCompatibleDC(nullptr);
    if (m_dc == nullptr) {
        return false;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = m_geometry.width;
    info.bmiHeader.biHeight = -m_geometry.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (m_bitmap == nullptr) {
        return false;
    }
    m_bits = static_cast<uint8_t*>(bits);
    m_previousBitmap = SelectObject(m_dc, m_bitmap);
    SetStretchBltMode(m_dc, HALFTONE);
    SetBrushOrgEx(m_dc, 0, 0, nullptr);  // HALFTONE needs it set after the mode
    return true;
}

int GdiSource::Grab(uint8_t* bgr) {
    // The screen's size is read for every frame: a display change may come before the
    // session is reopened for it.
    RECT screen = PrimaryScreen();
    HDC screenDc = GetDC(nullptr);
    if (screenDc == nullptr) {
        return KVCAP_E_CAPTURE_FAILED;
    }
    BOOL copied = StretchBlt(m_dc, 0, 0, m_geometry.width, m_geometry.height, screenDc, 0, 0,
                             screen.right, screen.bottom, SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screenDc);
    if (!copied) {
        return KVCAP_E_CAPTURE_FAILED;
    }
    if (m_geometry.drawCursor) {
        DrawCursorScaled(m_dc, screen, m_geometry.width, m_geometry.height);
    }
    GdiFlush();
    size_t rowBytes = static_cast<size_t>(m_geometry.width) * 3;
    size_t stride = (rowBytes + 3) & ~size_t{3};
    for (int y = 0; y < m_geometry.height; ++y) {
        std::memcpy(bgr + y * rowBytes, m_bits + y * stride, rowBytes);
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
