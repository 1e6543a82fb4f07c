#include "tests/mirror/x11_test_client.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <string>
#include <vector>

namespace {
constexpr unsigned long kModeClock = 40000000;
constexpr int kModeBlankWidth = 256;  // a plausible blanking interval around the picture
constexpr int kModeBlankHeight = 28;
}  // namespace

X11TestClient::X11TestClient() : m_display(XOpenDisplay(nullptr)) {}

X11TestClient::~X11TestClient() {
    if (m_display != nullptr) {
        XCloseDisplay(m_display);
    }
}

unsigned long X11TestClient::ShowColour(unsigned long pixel, int x, int y, int width, int height) {
    Window root = DefaultRootWindow(m_display);
    Window window = XCreateSimpleWindow(m_display, root, x, y, width, height, 0, 0, pixel);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(m_display, window, CWOverrideRedirect, &attributes);
    XMapRaised(m_display, window);
    XSync(m_display, False);
    return window;
}

unsigned long X11TestClient::ShowPictureWindow(int x, int y, int width, int height) {
    Window window = ShowColour(0, x, y, width, height);
    // An empty cursor, so that a capture that draws the pointer leaves the picture as it is.
    char noBits = 0;
    Pixmap empty = XCreateBitmapFromData(m_display, window, &noBits, 1, 1);
    XColor black{};
    Cursor cursor = XCreatePixmapCursor(m_display, empty, empty, &black, &black, 0, 0);
    XDefineCursor(m_display, window, cursor);
    XFreePixmap(m_display, empty);
    XSync(m_display, False);
    return window;
}

void X11TestClient::PutPicture(unsigned long window, const uint8_t* bgr, int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = bgr[i * 3] | bgr[i * 3 + 1] << 8 | static_cast<uint32_t>(bgr[i * 3 + 2]) << 16;
    }
    int screen = DefaultScreen(m_display);
    XImage* image = XCreateImage(m_display, DefaultVisual(m_display, screen), 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), width, height, 32, 0);
    // Xlib splits a large image into several requests, between which a capture could read
    // half a picture; the copy from the pixmap is one request.
    Pixmap pixmap = XCreatePixmap(m_display, window, width, height, 24);
    GC gc = DefaultGC(m_display, screen);
    XPutImage(m_display, pixmap, gc, image, 0, 0, 0, 0, width, height);
    XCopyArea(m_display, pixmap, window, gc, 0, 0, width, height, 0, 0);
    XFreePixmap(m_display, pixmap);
    image->data = nullptr;  // the vector owns the pixels
    XDestroyImage(image);
    XSync(m_display, False);
}

void X11TestClient::MoveWindow(unsigned long window, int x, int y) {
    XMoveWindow(m_display, window, x, y);
    XSync(m_display, False);
}

void X11TestClient::ResizeWindow(unsigned long window, int width, int height) {
    XResizeWindow(m_display, window, static_cast<unsigned int>(width),
                  static_cast<unsigned int>(height));
    XSync(m_display, False);
}

void X11TestClient::DestroyWindow(unsigned long window) {
    XDestroyWindow(m_display, window);
    XSync(m_display, False);
}

void X11TestClient::MovePointer(int x, int y) {
    XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, x, y);
    XSync(m_display, False);
}

void X11TestClient::OfferMode(int width, int height) {
    Window root = DefaultRootWindow(m_display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(m_display, root);
    std::string name = std::to_string(width) + "x" + std::to_string(height);
    XRRModeInfo mode{};
    mode.width = width;
    mode.height = height;
    mode.dotClock = kModeClock;
    mode.hTotal = width + kModeBlankWidth;
    mode.vTotal = height + kModeBlankHeight;
    mode.name = name.data();
    mode.nameLength = static_cast<unsigned>(name.size());
    RRMode id = XRRCreateMode(m_display, root, &mode);
    XRRAddOutputMode(m_display, resources->outputs[0], id);
    XRRFreeScreenResources(resources);
    XSync(m_display, False);
}
