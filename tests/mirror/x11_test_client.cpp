#include "tests/mirror/x11_test_client.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <string>

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

void X11TestClient::MoveWindow(unsigned long window, int x, int y) {
    XMoveWindow(m_display, window, x, y);
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
